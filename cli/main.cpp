// SPDX-License-Identifier: GPL-3.0-or-later
// quillmere-cli: the engine from the command line.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "Commands.h"
#include "ModelWords.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    quillmere::Commands commands;
    const int status = commands.run(args);
    std::fflush(stdout);
    return status;
  } catch (const quillmere::Commands::Error& error) {
    std::fprintf(stderr, "quillmere-cli: %s\n", error.what());
    return error.status();
  } catch (const quillmere::ModelCatalogue::Failure& failure) {
    std::fprintf(stderr, "quillmere-cli: %s\n", quillmere::ModelWords::catalogue(failure).c_str());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillmere-cli: %s\n", error.what());
    return 1;
  }
}
