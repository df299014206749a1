// SPDX-License-Identifier: GPL-3.0-or-later
// A deliberately plain QMBPE1 reader and tokenizer, written from the file layout and the
// merge rule as stated (rescan the whole list after every merge), for the fuzz targets to
// compare the engine's tokenizer against. Slow on purpose: quadratic merging, no cache.
#pragma once

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::fuzz {

class ReferenceTokenizer {
 public:
  // Nothing, with `error` set to the failure text, when the bytes are not a valid file.
  static std::optional<ReferenceTokenizer> parse(const std::uint8_t* data, std::size_t size,
                                                 std::string& error) {
    ReferenceTokenizer t;
    std::size_t at = 0;
    auto fits = [&](std::size_t count) { return at <= size && size - at >= count; };
    auto truncated = [&] {
      error = "truncated at " + std::to_string(at);
      return std::nullopt;
    };
    auto u32 = [&] {
      std::uint32_t v = 0;
      for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(data[at + k]) << (8 * k);
      at += 4;
      return v;
    };
    if (!fits(6)) return truncated();
    if (std::memcmp(data, "QMBPE1", 6) != 0) {
      error = "magic";
      return std::nullopt;
    }
    at = 6;
    if (!fits(4)) return truncated();
    const std::uint32_t vocabCount = u32();
    for (std::uint32_t k = 0; k < vocabCount; ++k) {
      if (!fits(2)) return truncated();
      const std::size_t length = data[at] | data[at + 1] << 8;
      at += 2;
      if (!fits(length)) return truncated();
      const std::string text(reinterpret_cast<const char*>(data + at), length);
      at += length;
      t.classify(static_cast<std::int32_t>(k), text);
    }
    t.vocabCount = vocabCount;
    if (!fits(4)) return truncated();
    const std::uint32_t mergeCount = u32();
    for (std::uint32_t r = 0; r < mergeCount; ++r) {
      std::uint32_t fields[3];
      for (auto& field : fields) {
        if (!fits(4)) return truncated();
        field = u32();
      }
      const std::uint64_t key = static_cast<std::uint64_t>(fields[0]) << 32 | fields[1];
      t.merges.emplace(
          key, std::pair{static_cast<std::int32_t>(r), static_cast<std::int32_t>(fields[2])});
      t.mergedIDs.insert(static_cast<std::int32_t>(fields[2]));
    }
    return t;
  }

  std::vector<std::int32_t> tokens(std::string_view text, bool lowercase) const {
    icu::UnicodeString processed = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    if (lowercase) processed.toLower(icu::Locale::getRoot());
    std::vector<std::int32_t> ids;
    for (std::int32_t i = 0; i < processed.length(); i = processed.moveIndex32(i, 1)) {
      std::uint32_t scalar = static_cast<std::uint32_t>(processed.char32At(i));
      if (scalar == 0x20) scalar = 0x2581;
      if (auto it = scalarIDs.find(scalar); it != scalarIDs.end()) {
        ids.push_back(it->second);
        continue;
      }
      for (std::uint8_t byte : utf8(scalar)) {
        if (byteIDs[byte] != -1) ids.push_back(byteIDs[byte]);
      }
    }
    while (ids.size() >= 2) {
      std::size_t best = 0;
      std::optional<std::pair<std::int32_t, std::int32_t>> found;
      for (std::size_t i = 0; i + 1 < ids.size(); ++i) {
        const std::uint64_t key = static_cast<std::uint64_t>(static_cast<std::uint32_t>(ids[i]))
                                      << 32 |
                                  static_cast<std::uint32_t>(ids[i + 1]);
        auto it = merges.find(key);
        if (it != merges.end() && (!found || it->second.first < found->first)) {
          found = it->second;
          best = i;
        }
      }
      if (!found) break;
      ids[best] = found->second;
      ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(best) + 1);
    }
    return ids;
  }

  // Whether an id can come out of tokens(): a vocabulary id or one a merge produces.
  bool producible(std::int32_t id) const {
    return (id >= 0 && static_cast<std::uint32_t>(id) < vocabCount) || mergedIDs.contains(id);
  }

  std::uint32_t vocabCount = 0;
  std::map<std::uint32_t, std::int32_t> scalarIDs;
  std::int32_t byteIDs[256];
  std::map<std::uint64_t, std::pair<std::int32_t, std::int32_t>> merges;  // rank, merged
  std::set<std::int32_t> mergedIDs;

 private:
  ReferenceTokenizer() {
    for (auto& id : byteIDs) id = -1;
  }

  static int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  static std::vector<std::uint8_t> utf8(std::uint32_t c) {
    if (c < 0x80) return {static_cast<std::uint8_t>(c)};
    if (c < 0x800)
      return {static_cast<std::uint8_t>(0xC0 | c >> 6), static_cast<std::uint8_t>(0x80 | (c & 63))};
    if (c < 0x10000)
      return {static_cast<std::uint8_t>(0xE0 | c >> 12),
              static_cast<std::uint8_t>(0x80 | (c >> 6 & 63)),
              static_cast<std::uint8_t>(0x80 | (c & 63))};
    return {static_cast<std::uint8_t>(0xF0 | c >> 18),
            static_cast<std::uint8_t>(0x80 | (c >> 12 & 63)),
            static_cast<std::uint8_t>(0x80 | (c >> 6 & 63)),
            static_cast<std::uint8_t>(0x80 | (c & 63))};
  }

  void classify(std::int32_t id, const std::string& text) {
    if (text.size() == 6 && text.compare(0, 3, "<0x") == 0 && text[5] == '>' && hex(text[3]) >= 0 &&
        hex(text[4]) >= 0) {
      const int byte = hex(text[3]) * 16 + hex(text[4]);
      if (byteIDs[byte] == -1) byteIDs[byte] = id;
      return;
    }
    icu::UnicodeString decoded = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    if (decoded.countChar32() == 1)
      scalarIDs.emplace(static_cast<std::uint32_t>(decoded.char32At(0)), id);
  }
};

}  // namespace quillmere::fuzz
