// quillmere-cli: the engine from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "index/Float16.h"

namespace {

int about() {
  std::printf("Quillmere engine\n");
  std::printf("  half-precision conversion: %s\n",
              quillmere::hasHardwareHalfConversion() ? "F16C" : "portable");
  return 0;
}

int usage() {
  std::fprintf(stderr, "usage: quillmere-cli about\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "about") return about();
  std::fprintf(stderr, "quillmere-cli: unknown command '%s'\n", argv[1]);
  return usage();
}
