// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MountNamespace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/MediaFactory.h"

namespace quillmere::test {

MountNamespace inMountNamespace(const char* marker) {
  if (std::getenv(marker)) return MountNamespace::inside;
  if (geteuid() != 0 || std::system("unshare -m --propagation private true 2>/dev/null") != 0) {
    return MountNamespace::unavailable;
  }
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string command = std::string(marker) + "=1 unshare -m --propagation private " +
                              shellQuoted(std::filesystem::read_symlink("/proc/self/exe")) +
                              " --gtest_brief=1 --gtest_filter=" + test->test_suite_name() + "." +
                              test->name();
  EXPECT_EQ(std::system(command.c_str()), 0) << "the run inside the namespace failed";
  return MountNamespace::ran;
}

}  // namespace quillmere::test
