// SPDX-License-Identifier: GPL-3.0-or-later
#include "Interrupts.h"

namespace quillmere {

volatile std::sig_atomic_t interrupted = 0;

namespace {

void onInterrupt(int) {
  interrupted = 1;
}

}  // namespace

void catchInterrupts() {
  interrupted = 0;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace quillmere
