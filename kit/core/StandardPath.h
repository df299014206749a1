// SPDX-License-Identifier: GPL-3.0-or-later
// The one standard form of a folder or file path, in which the library stores its folders
// and by which every front end, the scanner and the folder rules compare them.
#pragma once

#include <filesystem>
#include <string>

namespace quillmere {

// Absolute (against the working directory), with "." and ".." resolved lexically and no
// trailing "/" except for "/" itself. Symbolic links are left alone: a folder added through
// a link is stored, scanned and found under the link's path.
std::string standardPath(const std::filesystem::path& path);

}  // namespace quillmere
