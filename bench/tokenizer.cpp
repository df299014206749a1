// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a production tokenizer and encoding queries with it, ours beside the Hugging Face
// `tokenizers` library on the same tokenizer.json (bench/tokenizer.sh prepares both).
//
//   tokenizer TOKENIZER.BIN QUERIES.TXT [--rounds N]
//   tokenizer TOKENIZER.BIN QUERIES.JSONL [--rounds N]
//
// Queries in a .jsonl file (one JSON string a line, so they may hold newlines) are taken as
// they stand; a .txt file's lines are lower-cased first, as SigLIP's model.json asks.
// Prints the median of N fresh loads (construction plus the first encode), the heap the
// tables hold beside the file's size, and the time for all queries; one line per query's
// ids goes to QUERIES.TXT.ids so the script can compare them with the reference.
#include <malloc.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "model/BPETokenizer.h"
#include "support/Measure.h"

namespace {

using namespace quillmere;
using quillmere::bench::median;
using quillmere::bench::millisecondsOf;

std::unique_ptr<BPETokenizer> load(const std::filesystem::path& file, bool lowercase) {
  // SigLIP 2's settings: 64 ids, <pad> 0, <eos> 1.
  return std::make_unique<BPETokenizer>(file, 64, 0, 1, lowercase);
}

bool isJSONLines(const std::filesystem::path& file) {
  return file.extension() == ".jsonl";
}

std::vector<std::string> readLines(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(isJSONLines(file) ? nlohmann::json::parse(line).get<std::string>() : line);
  }
  return lines;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::cerr << "usage: tokenizer TOKENIZER.BIN QUERIES.TXT [--rounds N]\n";
    return 2;
  }
  const std::filesystem::path file = argv[1];
  const auto queries = readLines(argv[2]);
  const bool lowercase = !isJSONLines(argv[2]);
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 7;

  std::vector<double> loads;
  for (int round = 0; round < rounds; ++round) {
    loads.push_back(millisecondsOf([&] {
      auto tokenizer = load(file, lowercase);
      tokenizer->encode(queries.empty() ? "a photo" : queries.front());
    }));
  }
  const auto before = mallinfo2().uordblks;
  auto tokenizer = load(file, lowercase);
  const double heapBytes = static_cast<double>(mallinfo2().uordblks - before);
  const double fileBytes = static_cast<double>(std::filesystem::file_size(file));

  std::ofstream ids(std::string(argv[2]) + ".ids");
  const double encodeMS = millisecondsOf([&] {
    for (const auto& query : queries) {
      for (auto id : tokenizer->tokens(query)) ids << id << ' ';
      ids << '\n';
    }
  });
  std::printf(
      "ours: load+first encode %.1f ms (median of %d), tables %.1f MB = %.2f x file "
      "(%.1f MB), %zu queries %.1f ms\n",
      median(loads), rounds, heapBytes / 1e6, heapBytes / fileBytes, fileBytes / 1e6,
      queries.size(), encodeMS);
  return 0;
}
