// SPDX-License-Identifier: GPL-3.0-or-later
// Byte-pair encoding of query text into the text encoder's token ids, with its cache.
#include "model/BPETokenizer.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <list>
#include <mutex>
#include <optional>
#include <queue>

#include "platform/MappedFile.h"

namespace quillmere {
namespace {

constexpr char magic[] = "QMBPE1";
constexpr char byteLevelMagic[] = "QMBPE2";
constexpr std::size_t magicSize = 6;

// Bounds-checked little-endian reads; a field that does not fit names its own offset.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  const std::uint8_t* take(std::size_t count) {
    if (count > size_ - offset_) {
      throw BPETokenizer::Failure::badFile("truncated at " + std::to_string(offset_));
    }
    const std::uint8_t* start = data_ + offset_;
    offset_ += count;
    return start;
  }
  std::uint16_t u16() {
    const std::uint8_t* p = take(2);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  std::uint32_t u32() {
    const std::uint8_t* p = take(4);
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  std::size_t offset() const { return offset_; }
  std::size_t remaining() const { return size_ - offset_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

int hexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "<0xHH>" with two hexadecimal digits of either case.
std::optional<std::uint8_t> byteToken(const std::uint8_t* text, std::size_t length) {
  if (length != 6 || std::memcmp(text, "<0x", 3) != 0 || text[5] != '>') return std::nullopt;
  int high = hexDigit(text[3]);
  int low = hexDigit(text[4]);
  if (high < 0 || low < 0) return std::nullopt;
  return static_cast<std::uint8_t>(high * 16 + low);
}

// The only scalar of a UTF-8 text (invalid sequences read as U+FFFD), if it has exactly one.
std::optional<std::uint32_t> singleScalar(const std::uint8_t* text, std::size_t length) {
  if (length == 0 || length > 4) return std::nullopt;
  std::int32_t i = 0;
  UChar32 scalar = 0;
  U8_NEXT(text, i, static_cast<std::int32_t>(length), scalar);
  if (static_cast<std::size_t>(i) != length) return std::nullopt;
  return scalar < 0 ? 0xFFFDu : static_cast<std::uint32_t>(scalar);
}

// QMBPE2's header: u8 pattern, u8 flags, i32 start token, u16 length + end-of-word suffix.
ByteLevelScheme readScheme(Reader& reader) {
  ByteLevelScheme scheme;
  const std::size_t patternOffset = reader.offset();
  const std::uint8_t pattern = *reader.take(1);
  if (!ByteLevelScheme::knows(pattern)) {
    throw BPETokenizer::Failure::badFile("pattern at " + std::to_string(patternOffset));
  }
  scheme.pattern = static_cast<ByteLevelScheme::Pattern>(pattern);
  scheme.flags = *reader.take(1);
  scheme.bosID = reader.i32();
  const std::uint16_t length = reader.u16();
  const std::uint8_t* suffix = reader.take(length);
  scheme.endOfWordSuffix.assign(reinterpret_cast<const char*>(suffix), length);
  return scheme;
}

// The byte a vocabulary entry of one table character stands for.
std::optional<std::uint8_t> tableByte(std::string_view text) {
  auto scalar = singleScalar(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (!scalar) return std::nullopt;
  const int byte = ByteLevelScheme::byteOf(*scalar);
  if (byte < 0) return std::nullopt;
  return static_cast<std::uint8_t>(byte);
}

}  // namespace

// Least-recently-used store of processed query -> ids, bounded so that a long session of
// distinct queries can't grow without end.
class BPETokenizer::Cache {
 public:
  std::optional<std::vector<std::int32_t>> find(const std::string& key) {
    std::lock_guard guard(lock_);
    auto it = index_.find(key);
    if (it == index_.end()) return std::nullopt;
    order_.splice(order_.begin(), order_, it->second);
    return it->second->second;
  }
  void store(const std::string& key, const std::vector<std::int32_t>& ids) {
    std::lock_guard guard(lock_);
    if (auto it = index_.find(key); it != index_.end()) {
      order_.splice(order_.begin(), order_, it->second);
      return;
    }
    order_.emplace_front(key, ids);
    index_.emplace(key, order_.begin());
    if (order_.size() > cacheCapacity) {
      index_.erase(order_.back().first);
      order_.pop_back();
    }
  }

 private:
  using Entry = std::pair<std::string, std::vector<std::int32_t>>;
  std::mutex lock_;  // guards order_ and index_
  std::list<Entry> order_;
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

BPETokenizer::Failure::Failure(std::string detail)
    : std::runtime_error(detail), detail_(std::move(detail)) {}

BPETokenizer::Failure BPETokenizer::Failure::badFile(std::string detail) {
  return Failure(std::move(detail));
}

BPETokenizer::BPETokenizer(const std::filesystem::path& filePath, std::int64_t contextLength,
                           std::int32_t padID, std::int32_t eosID, bool lowercase)
    : BPETokenizer(contextLength, padID, eosID, lowercase) {
  MappedFile file(filePath);
  parse(file.data(), file.size());
}

BPETokenizer::BPETokenizer(std::span<const std::uint8_t> bytes, std::int64_t contextLength,
                           std::int32_t padID, std::int32_t eosID, bool lowercase)
    : BPETokenizer(contextLength, padID, eosID, lowercase) {
  parse(bytes.data(), bytes.size());
}

BPETokenizer::BPETokenizer(std::int64_t contextLength, std::int32_t padID, std::int32_t eosID,
                           bool lowercase)
    : contextLength_(contextLength),
      padID_(padID),
      eosID_(eosID),
      lowercase_(lowercase),
      cache_(std::make_unique<Cache>()) {
  if (contextLength < 1 || contextLength > maxContextLength) {
    throw std::invalid_argument("contextLength must be between 1 and " +
                                std::to_string(maxContextLength));
  }
  std::fill(std::begin(byteIDs_), std::end(byteIDs_), -1);
  std::fill(std::begin(suffixedByteIDs_), std::end(suffixedByteIDs_), -1);
}

BPETokenizer::~BPETokenizer() = default;

void BPETokenizer::parse(const std::uint8_t* data, std::size_t size) {
  Reader reader(data, size);
  const std::uint8_t* head = reader.take(magicSize);
  if (std::memcmp(head, byteLevelMagic, magicSize) == 0) {
    scheme_ = readScheme(reader);
  } else if (std::memcmp(head, magic, magicSize) != 0) {
    throw Failure::badFile("magic");
  }
  constexpr auto maxID = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
  std::uint32_t vocabCount = reader.u32();
  if (scheme_ && (scheme_->flags & ByteLevelScheme::ignoreMerges)) {
    words_.reserve(std::min<std::size_t>(vocabCount, reader.remaining() / 2));
  }
  for (std::uint32_t k = 0; k < vocabCount; ++k) {
    // An id past the signed range needs a file of gigabytes; refuse it rather than wrap.
    if (k > maxID) throw Failure::badFile("truncated at " + std::to_string(reader.offset()));
    std::uint16_t length = reader.u16();
    const std::uint8_t* text = reader.take(length);
    addEntry(static_cast<std::int32_t>(k), text, length);
  }
  std::uint32_t mergeCount = reader.u32();
  // Sized up front, but never beyond what the file can hold: a hostile count can't make
  // us allocate gigabytes before the truncation shows.
  std::vector<MergeTable::Rule> rules;
  rules.reserve(std::min<std::size_t>(mergeCount, reader.remaining() / 12));
  for (std::uint32_t r = 0; r < mergeCount; ++r) {
    if (r > maxID) throw Failure::badFile("truncated at " + std::to_string(reader.offset()));
    std::int32_t left = reader.i32();
    auto right = static_cast<std::int32_t>(reader.u32());
    std::int32_t merged = reader.i32();
    rules.push_back(MergeTable::Rule{left, right, merged});
  }
  merges_ = MergeTable(std::move(rules));
}

// The first entry of a scalar, a byte or (QMBPE2) a text wins.
void BPETokenizer::addEntry(std::int32_t id, const std::uint8_t* text, std::size_t length) {
  if (!scheme_) {
    if (auto byte = byteToken(text, length)) {
      if (byteIDs_[*byte] == -1) byteIDs_[*byte] = id;
    } else if (auto scalar = singleScalar(text, length)) {
      scalarIDs_.emplace(*scalar, id);
    }
    return;
  }
  std::string_view entry(reinterpret_cast<const char*>(text), length);
  if (scheme_->flags & ByteLevelScheme::ignoreMerges) words_.emplace(entry, id);
  if (auto byte = tableByte(entry)) {
    if (byteIDs_[*byte] == -1) byteIDs_[*byte] = id;
    return;
  }
  const std::string& suffix = scheme_->endOfWordSuffix;
  if (!suffix.empty() && entry.size() > suffix.size() && entry.ends_with(suffix)) {
    auto byte = tableByte(entry.substr(0, entry.size() - suffix.size()));
    if (byte && suffixedByteIDs_[*byte] == -1) suffixedByteIDs_[*byte] = id;
  }
}

std::vector<std::int32_t> BPETokenizer::tokens(std::string_view text) const {
  return scheme_ ? byteLevelTokens(text) : characterTokens(text);
}

std::vector<std::int32_t> BPETokenizer::byteLevelTokens(std::string_view text) const {
  if (text.empty()) return {};
  const std::string key(text);
  if (auto cached = cache_->find(key)) return *cached;
  std::vector<std::int32_t> ids;
  for (const std::string& word : scheme_->words(text, lowercase_)) appendWord(word, ids);
  cache_->store(key, ids);
  return ids;
}

// One word: its bytes as table characters, the last one with the end-of-word suffix, merged;
// or, when the scheme ignores merges, the word's own entry if it has one.
// A byte without an entry is left out, as the character scheme leaves out unknown bytes.
void BPETokenizer::appendWord(const std::string& word, std::vector<std::int32_t>& ids) const {
  const std::string& suffix = scheme_->endOfWordSuffix;
  if (!words_.empty()) {
    // Hugging Face looks the word up as spelt, without the suffix.
    auto it = words_.find(ByteLevelScheme::charactersOf(word));
    if (it != words_.end()) {
      ids.push_back(it->second);
      return;
    }
  }
  std::vector<std::int32_t> start;
  start.reserve(word.size());
  for (std::size_t i = 0; i < word.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(word[i]);
    const bool last = i + 1 == word.size() && !suffix.empty();
    const std::int32_t id = last ? suffixedByteIDs_[byte] : byteIDs_[byte];
    if (id != -1) start.push_back(id);
  }
  for (std::int32_t id : merge(std::move(start))) ids.push_back(id);
}

std::vector<std::int32_t> BPETokenizer::characterTokens(std::string_view text) const {
  icu::UnicodeString processed = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
  if (lowercase_) processed.toLower(icu::Locale::getRoot());
  processed.findAndReplace(icu::UnicodeString(static_cast<char16_t>(0x20)),
                           icu::UnicodeString(static_cast<char16_t>(0x2581)));
  if (processed.isEmpty()) return {};
  std::string key;
  processed.toUTF8String(key);
  if (auto cached = cache_->find(key)) return *cached;

  std::vector<std::int32_t> ids;
  ids.reserve(static_cast<std::size_t>(processed.length()));
  for (std::int32_t i = 0; i < processed.length();) {
    UChar32 scalar = processed.char32At(i);
    i += U16_LENGTH(scalar);
    if (auto it = scalarIDs_.find(static_cast<std::uint32_t>(scalar)); it != scalarIDs_.end()) {
      ids.push_back(it->second);
      continue;
    }
    std::uint8_t bytes[4];
    std::int32_t count = 0;
    U8_APPEND_UNSAFE(bytes, count, scalar);
    for (std::int32_t b = 0; b < count; ++b) {
      if (byteIDs_[bytes[b]] != -1) ids.push_back(byteIDs_[bytes[b]]);
    }
  }
  ids = merge(std::move(ids));
  cache_->store(key, ids);
  return ids;
}

// Lowest rank first, leftmost among equal ranks, one occurrence at a time: the same result
// as rescanning the list after every merge, in O(n log n) so a long pasted text can't stall.
// Pairs wait in a heap ordered by (rank, position of the left id); a merge only makes new pairs
// with its two neighbours, and an entry whose ids no longer stand there is skipped.
std::vector<std::int32_t> BPETokenizer::merge(std::vector<std::int32_t> ids) const {
  const std::size_t n = ids.size();
  if (n < 2) return ids;
  constexpr std::size_t none = static_cast<std::size_t>(-1);
  std::vector<std::size_t> previous(n), next(n);
  for (std::size_t i = 0; i < n; ++i) {
    previous[i] = i == 0 ? none : i - 1;
    next[i] = i + 1 == n ? none : i + 1;
  }
  struct Candidate {
    std::int32_t rank;
    std::size_t left;
    std::int32_t leftID, rightID, merged;
  };
  auto later = [](const Candidate& a, const Candidate& b) {
    return a.rank != b.rank ? a.rank > b.rank : a.left > b.left;
  };
  std::priority_queue<Candidate, std::vector<Candidate>, decltype(later)> heap(later);
  auto consider = [&](std::size_t left) {
    if (left == none || next[left] == none) return;
    std::int32_t a = ids[left], b = ids[next[left]];
    if (auto rule = merges_.find(a, b)) heap.push(Candidate{rule->rank, left, a, b, rule->merged});
  };
  for (std::size_t i = 0; i + 1 < n; ++i) consider(i);

  std::vector<bool> removed(n, false);
  while (!heap.empty()) {
    Candidate candidate = heap.top();
    heap.pop();
    const std::size_t left = candidate.left;
    const std::size_t right = next[left];
    if (removed[left] || right == none || ids[left] != candidate.leftID ||
        ids[right] != candidate.rightID) {
      continue;
    }
    ids[left] = candidate.merged;
    removed[right] = true;
    next[left] = next[right];
    if (next[right] != none) previous[next[right]] = left;
    consider(previous[left]);
    consider(left);
  }
  std::vector<std::int32_t> result;
  for (std::size_t i = 0; i != none; i = next[i]) result.push_back(ids[i]);
  return result;
}

std::vector<std::int32_t> BPETokenizer::encode(std::string_view text) const {
  std::vector<std::int32_t> ids = tokens(text);
  const bool start = scheme_ && scheme_->bosID >= 0 && contextLength_ > 1;
  auto keep = static_cast<std::size_t>(contextLength_ - (start ? 2 : 1));
  if (ids.size() > keep) ids.resize(keep);
  if (start) ids.insert(ids.begin(), scheme_->bosID);
  ids.push_back(eosID_);
  ids.resize(static_cast<std::size_t>(contextLength_), padID_);
  return ids;
}

}  // namespace quillmere
