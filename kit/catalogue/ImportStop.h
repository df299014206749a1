// SPDX-License-Identifier: GPL-3.0-or-later
// A stop asked for while a model is hashed, widened or imported (Cancel, Ctrl-C, SIGTERM).
// The long loops ask it between pieces of work, so a stop takes effect within a moment,
// except inside a compile by the runtime, which has no way to be stopped: after it.
#pragma once

#include <functional>
#include <stdexcept>

namespace quillmere {

class ImportStop {
 public:
  // Thrown where a stop was asked for; what was being written is removed by the thrower.
  class Stopped : public std::runtime_error {
   public:
    Stopped();
  };

  ImportStop() = default;  // never stops
  explicit ImportStop(std::function<bool()> asked) : asked_(std::move(asked)) {}

  bool asked() const { return asked_ && asked_(); }
  // Throws Stopped when a stop was asked for.
  void check() const;

 private:
  std::function<bool()> asked_;
};

}  // namespace quillmere
