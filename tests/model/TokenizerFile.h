// SPDX-License-Identifier: GPL-3.0-or-later
// Builds QMBPE1 tokenizer files for tests, remembering where each field starts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace quillmere::test {

class TokenizerFile {
 public:
  struct Field {
    std::size_t offset;
    std::size_t size;
  };

  // Adds a vocabulary entry; returns its id.
  std::int32_t add(const std::string& text);
  void merge(std::int32_t left, std::int32_t right, std::int32_t merged);
  // Every vocabulary entry for the bytes 0..255, as "<0xHH>".
  void addByteTokens();

  std::vector<std::uint8_t> bytes() const;
  // The fields of bytes() in file order (magic, counts, lengths, texts, merge fields).
  std::vector<Field> fields() const;
  std::filesystem::path write(const std::filesystem::path& path) const;
  static void write(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

  std::vector<std::string> vocab;
  std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t>> merges;
  // Written in place of merges.size() when set (a count that promises more records).
  std::int64_t mergeCountOverride = -1;
};

}  // namespace quillmere::test
