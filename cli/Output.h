// SPDX-License-Identifier: GPL-3.0-or-later
// What the subcommands print: paths and messages on one line, counts with their nouns, and
// paths in JSON documents.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include <vector>

#include "core/Records.h"
#include "core/TextLine.h"

namespace quillmere::Output {

// A path (or message) on one line, unambiguous: backslashes, control characters and bytes
// that are not UTF-8 are written as C escapes (\\, \n, \t, \r, \xNN), the rest as it is.
std::string printable(std::string_view text);

// "1 file", "2 files".
std::string counted(std::int64_t count, const std::string& noun);

// A path under key. JSON text is Unicode, so a path that is not valid UTF-8 shows there with
// U+FFFD and comes whole under key + "_url" as its file URL, every other byte percent-encoded.
void putPath(nlohmann::json& object, const std::string& key, const std::string& path);

const char* kindName(MediaKind kind);

// Lines read in a picture: [{"text", "box": [[x, y] x 4], "confidence"}].
nlohmann::json textLines(const std::vector<TextLine>& lines);

}  // namespace quillmere::Output
