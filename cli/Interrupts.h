// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C and SIGTERM for the commands that stop cleanly: indexing, importing, downloading.
#pragma once

#include <csignal>

namespace quillmere {

extern volatile std::sig_atomic_t interrupted;

// From here on SIGINT and SIGTERM only set the flag, so that indexing stops cleanly.
void catchInterrupts();

}  // namespace quillmere
