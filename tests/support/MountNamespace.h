// SPDX-License-Identifier: GPL-3.0-or-later
// Tests that mount file systems run again, as root, alone in a mount namespace of their own,
// so that nothing they mount is seen outside.
#pragma once

namespace quillmere::test {

enum class MountNamespace {
  inside,       // this is the run inside: the test goes on
  ran,          // the test ran inside and its outcome is reported: the test ends here
  unavailable,  // no namespace can be made here: the test is skipped
};

// Runs the current test again inside a mount namespace unless `marker` (an environment
// variable) says this is that run.
MountNamespace inMountNamespace(const char* marker);

}  // namespace quillmere::test
