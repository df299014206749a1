// SPDX-License-Identifier: GPL-3.0-or-later
// tokenizer.bin from arbitrary bytes: the engine's parser must fail exactly where a plain
// reading of the layout fails, with the same text, and a file it accepts must tokenize every
// query as the plain rescan-after-every-merge algorithm does.
//
// A byte-level (QMBPE2) file has no plain reference: it must parse or fail with a Failure,
// give the same ids twice, only ids of its vocabulary, and frame them as its header says.
//
// Input: a query (FuzzedDataProvider's random-length string, ended by a backslash and another
// character), then the file; the last two bytes choose the context length and lowercasing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <set>
#include <span>

#include "FuzzSupport.h"
#include "ReferenceTokenizer.h"
#include "model/BPETokenizer.h"

using namespace quillmere;

namespace {

std::uint32_t u32At(const std::vector<std::uint8_t>& file, std::size_t offset) {
  return static_cast<std::uint32_t>(file[offset]) | (file[offset + 1] << 8) |
         (file[offset + 2] << 16) | (static_cast<std::uint32_t>(file[offset + 3]) << 24);
}

int checkByteLevel(const std::vector<std::uint8_t>& file, const std::string& query,
                   std::int64_t contextLength, bool lowercase) {
  std::optional<BPETokenizer> tokenizer;
  try {
    tokenizer.emplace(std::span(file), contextLength, 0, 1, lowercase);
  } catch (const BPETokenizer::Failure&) {
    return 0;
  }
  // Accepted, so the file is whole: header, entries, merges. An id is an entry's or a
  // merge's result.
  const auto bos = static_cast<std::int32_t>(u32At(file, 8));
  std::size_t offset = 14 + (file[12] | (file[13] << 8));
  const std::uint32_t vocabCount = u32At(file, offset);
  offset += 4;
  for (std::uint32_t k = 0; k < vocabCount; ++k)
    offset += 2 + (file[offset] | (file[offset + 1] << 8));
  std::set<std::int32_t> merged;
  const std::uint32_t mergeCount = u32At(file, offset);
  for (std::uint32_t r = 0; r < mergeCount; ++r) {
    merged.insert(static_cast<std::int32_t>(u32At(file, offset + 4 + 12 * r + 8)));
  }
  const std::vector<std::int32_t> ids = tokenizer->tokens(query);
  for (std::int32_t id : ids) {
    fuzz::require((id >= 0 && static_cast<std::uint32_t>(id) < vocabCount) || merged.count(id),
                  "an id out of range");
  }
  fuzz::require(tokenizer->tokens(query) == ids, "the cached answer differs");
  const std::vector<std::int32_t> framed = tokenizer->encode(query);
  fuzz::require(framed.size() == static_cast<std::size_t>(contextLength), "encode length");
  const std::size_t start = bos >= 0 && contextLength > 1 ? 1 : 0;
  if (start) fuzz::require(framed[0] == bos, "no start id");
  const std::size_t kept =
      std::min(ids.size(), static_cast<std::size_t>(contextLength) - 1 - start);
  fuzz::require(std::equal(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(kept),
                           framed.begin() + static_cast<std::ptrdiff_t>(start)),
                "encode does not hold the tokens");
  fuzz::require(framed[start + kept] == 1, "no end id after the tokens");
  for (std::size_t i = start + kept + 1; i < framed.size(); ++i)
    fuzz::require(framed[i] == 0, "padding is not the pad id");
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool lowercase = input.ConsumeBool();
  const auto contextLength = input.ConsumeIntegralInRange<std::int64_t>(1, 80);
  const std::string query = input.ConsumeRandomLengthString(256);
  const std::vector<std::uint8_t> file = input.ConsumeRemainingBytes<std::uint8_t>();
  if (file.size() >= 6 && std::memcmp(file.data(), "QMBPE2", 6) == 0) {
    return checkByteLevel(file, query, contextLength, lowercase);
  }

  std::string expectedError;
  const auto reference = fuzz::ReferenceTokenizer::parse(file.data(), file.size(), expectedError);
  std::optional<BPETokenizer> tokenizer;
  try {
    tokenizer.emplace(std::span(file), contextLength, 0, 1, lowercase);
  } catch (const BPETokenizer::Failure& failure) {
    fuzz::require(!reference, "a valid file was refused: " + std::string(failure.what()));
    fuzz::require(failure.what() == expectedError,
                  "failure text " + std::string(failure.what()) + ", expected " + expectedError);
    return 0;
  }
  fuzz::require(reference.has_value(), "a malformed file was accepted (" + expectedError + ")");

  const std::vector<std::int32_t> ids = tokenizer->tokens(query);
  const std::vector<std::int32_t> expected = reference->tokens(query, lowercase);
  fuzz::require(ids == expected, "tokens differ from the plain merge");
  for (std::int32_t id : ids) fuzz::require(reference->producible(id), "an id out of range");
  fuzz::require(tokenizer->tokens(query) == ids, "the cached answer differs");

  const std::vector<std::int32_t> framed = tokenizer->encode(query);
  fuzz::require(framed.size() == static_cast<std::size_t>(contextLength), "encode length");
  const std::size_t kept = std::min(ids.size(), static_cast<std::size_t>(contextLength - 1));
  fuzz::require(
      std::equal(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(kept), framed.begin()),
      "encode does not start with the tokens");
  fuzz::require(framed[kept] == 1, "no end id after the tokens");
  for (std::size_t i = kept + 1; i < framed.size(); ++i)
    fuzz::require(framed[i] == 0, "padding is not the pad id");
  return 0;
}
