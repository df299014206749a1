// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace quillmere {
namespace {

// From linux/ioprio.h, which not every libc's headers carry.
constexpr int ioprioWhoProcess = 1;
constexpr int ioprioClassBestEffort = 2;
constexpr int ioprioClassShift = 13;
constexpr int ioprioLowestBestEffort = (ioprioClassBestEffort << ioprioClassShift) | 7;

// On Linux, PRIO_PROCESS with a thread id names that thread alone.
id_t currentThread() {
  return static_cast<id_t>(::syscall(SYS_gettid));
}

}  // namespace

void ThreadPriority::background() {
  const id_t self = currentThread();
  // Not the idle scheduling class: a thread holding the library's lock must not starve the
  // searches waiting on it while the machine is busy.
  ::setpriority(PRIO_PROCESS, self, backgroundNiceness);
  ::syscall(SYS_ioprio_set, ioprioWhoProcess, static_cast<int>(self), ioprioLowestBestEffort);
}

int ThreadPriority::niceness() {
  errno = 0;
  const int value = ::getpriority(PRIO_PROCESS, currentThread());
  return errno == 0 ? value : 0;
}

}  // namespace quillmere
