// SPDX-License-Identifier: GPL-3.0-or-later
// The process's one ONNX Runtime environment, with telemetry off.
#include "model/RuntimeEnvironment.h"

#include <cstdlib>
#include <cstring>

namespace quillmere {
namespace {

// Some builds of the runtime (npm's among them) start a telemetry collector with their first
// environment: a device id and an event queue under ~/.cache/Microsoft, a /tmp/mat-debug-*.log
// and uploads to Microsoft. Only this variable, read when an environment is made, stops all of
// it; DisableTelemetryEvents() alone does not. The program sends nothing anywhere.
constexpr const char* kTelemetrySwitch = "ORT_DISABLE_TELEMETRY";

bool telemetryOff() {
  const char* value = std::getenv(kTelemetrySwitch);
  return value && std::strcmp(value, "1") == 0;
}

// Set before main, while the process has one thread: setenv is not safe beside other threads
// reading the environment. The check in runtimeEnvironment() covers a caller that cleared it.
const bool kTelemetrySwitchedOff = setenv(kTelemetrySwitch, "1", 1) == 0;

}  // namespace

Ort::Env& runtimeEnvironment() {
  static Ort::Env env = [] {
    if (!kTelemetrySwitchedOff || !telemetryOff()) setenv(kTelemetrySwitch, "1", 1);
    Ort::Env made(ORT_LOGGING_LEVEL_FATAL, "quillmere");
    made.DisableTelemetryEvents();
    return made;
  }();
  return env;
}

}  // namespace quillmere
