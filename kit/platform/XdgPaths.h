// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user base directories of the XDG base directory rules.
#pragma once

#include <filesystem>

namespace quillmere::XdgPaths {

// The user's home: $HOME when set, else the password database's entry.
std::filesystem::path home();
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::filesystem::path dataHome();
// $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
std::filesystem::path cacheHome();

}  // namespace quillmere::XdgPaths
