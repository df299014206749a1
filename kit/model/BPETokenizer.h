// SPDX-License-Identifier: GPL-3.0-or-later
// Byte-pair encoding of search queries into the text encoder's token ids, with the
// vocabulary and merge table of a tokenizer.bin: QMBPE1 (characters with byte fallback, "▁"
// for spaces) or QMBPE2 (byte-level, the scheme its header describes).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/ByteLevelScheme.h"
#include "model/MergeTable.h"

namespace quillmere {

class BPETokenizer {
 public:
  // A malformed file; what() is "magic" or "truncated at <offset>".
  class Failure : public std::runtime_error {
   public:
    static Failure badFile(std::string detail);
    const std::string& detail() const { return detail_; }

   private:
    explicit Failure(std::string detail);
    std::string detail_;
  };

  // Maps and parses the file. Throws std::system_error when it can't be read, Failure when
  // it is malformed, std::invalid_argument when contextLength is outside 1...maxContextLength.
  BPETokenizer(const std::filesystem::path& filePath, std::int64_t contextLength,
               std::int32_t padID, std::int32_t eosID, bool lowercase);
  // Parses the bytes of a tokenizer file held in memory (they are not kept); throws as above
  // except for reading.
  BPETokenizer(std::span<const std::uint8_t> bytes, std::int64_t contextLength, std::int32_t padID,
               std::int32_t eosID, bool lowercase);
  ~BPETokenizer();
  BPETokenizer(const BPETokenizer&) = delete;
  BPETokenizer& operator=(const BPETokenizer&) = delete;

  // The query's token ids, unframed (invalid UTF-8 reads as U+FFFD). Safe on many threads.
  std::vector<std::int32_t> tokens(std::string_view text) const;
  // Exactly contextLength ids: the file's start token if it names one, as many tokens as fit
  // before eosID, then padID.
  std::vector<std::int32_t> encode(std::string_view text) const;

  std::int64_t contextLength() const { return contextLength_; }
  std::int32_t padID() const { return padID_; }
  std::int32_t eosID() const { return eosID_; }
  bool lowercase() const { return lowercase_; }

  static constexpr std::int64_t maxContextLength = 1 << 20;
  // The largest number of processed queries whose tokens are kept.
  static constexpr std::size_t cacheCapacity = 65536;

 private:
  class Cache;

  BPETokenizer(std::int64_t contextLength, std::int32_t padID, std::int32_t eosID, bool lowercase);
  void parse(const std::uint8_t* data, std::size_t size);
  void addEntry(std::int32_t id, const std::uint8_t* text, std::size_t length);
  std::vector<std::int32_t> characterTokens(std::string_view text) const;
  std::vector<std::int32_t> byteLevelTokens(std::string_view text) const;
  void appendWord(const std::string& word, std::vector<std::int32_t>& ids) const;
  std::vector<std::int32_t> merge(std::vector<std::int32_t> ids) const;

  std::int64_t contextLength_;
  std::int32_t padID_;
  std::int32_t eosID_;
  bool lowercase_;
  std::unordered_map<std::uint32_t, std::int32_t> scalarIDs_;
  MergeTable merges_;
  std::int32_t byteIDs_[256];
  // QMBPE2 only: the scheme, the ids of each byte's character with the end-of-word suffix,
  // and, when the scheme ignores merges for known words, every entry by its text.
  std::optional<ByteLevelScheme> scheme_;
  std::int32_t suffixedByteIDs_[256];
  std::unordered_map<std::string, std::int32_t> words_;
  std::unique_ptr<Cache> cache_;
};

}  // namespace quillmere
