// SPDX-License-Identifier: GPL-3.0-or-later
// Writing to a temporary beside the target, then renaming it over the target: a reader
// sees the old whole file or the new whole one, never half of one.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillmere::AtomicFile {

// target + ".<tag>-<pid>", in the target's directory so that the rename stays on its drive.
std::filesystem::path temporaryBeside(const std::filesystem::path& target, const std::string& tag);

// The temporary could not be written; it is removed.
class WriteFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws WriteFailed, or std::filesystem::filesystem_error when the rename fails (the
// temporary is removed then too).
void write(const std::filesystem::path& file, std::string_view bytes);

}  // namespace quillmere::AtomicFile
