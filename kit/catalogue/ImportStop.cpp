// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ImportStop.h"

namespace quillmere {

ImportStop::Stopped::Stopped() : std::runtime_error("ImportStop::Stopped") {}

void ImportStop::check() const {
  if (asked()) throw Stopped();
}

}  // namespace quillmere
