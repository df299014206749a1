// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/TokenizerFile.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <tuple>

namespace quillmere::test {
namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::int32_t TokenizerFile::add(const std::string& text) {
  vocab.push_back(text);
  return static_cast<std::int32_t>(vocab.size() - 1);
}

void TokenizerFile::merge(std::int32_t left, std::int32_t right, std::int32_t merged) {
  merges.emplace_back(left, right, merged);
}

void TokenizerFile::addByteTokens() {
  for (int b = 0; b < 256; ++b) {
    char text[8];
    std::snprintf(text, sizeof text, "<0x%02X>", b);
    add(text);
  }
}

std::vector<std::uint8_t> TokenizerFile::bytes() const {
  std::vector<std::uint8_t> out{'Q', 'M', 'B', 'P', 'E', '1'};
  put32(out, static_cast<std::uint32_t>(vocab.size()));
  for (const std::string& text : vocab) {
    out.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>(text.size() >> 8));
    out.insert(out.end(), text.begin(), text.end());
  }
  put32(out,
        static_cast<std::uint32_t>(mergeCountOverride >= 0 ? mergeCountOverride : merges.size()));
  for (const auto& [left, right, merged] : merges) {
    put32(out, static_cast<std::uint32_t>(left));
    put32(out, static_cast<std::uint32_t>(right));
    put32(out, static_cast<std::uint32_t>(merged));
  }
  return out;
}

std::vector<TokenizerFile::Field> TokenizerFile::fields() const {
  std::vector<Field> fields{{0, 6}, {6, 4}};
  std::size_t offset = 10;
  for (const std::string& text : vocab) {
    fields.push_back({offset, 2});
    fields.push_back({offset + 2, text.size()});
    offset += 2 + text.size();
  }
  fields.push_back({offset, 4});
  offset += 4;
  for (std::size_t r = 0; r < merges.size(); ++r) {
    for (int f = 0; f < 3; ++f) {
      fields.push_back({offset, 4});
      offset += 4;
    }
  }
  return fields;
}

std::filesystem::path TokenizerFile::write(const std::filesystem::path& path) const {
  write(path, bytes());
  return path;
}

void TokenizerFile::write(const std::filesystem::path& path,
                          const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace quillmere::test
