// SPDX-License-Identifier: GPL-3.0-or-later
// The process's one ONNX Runtime environment. Every session of the engine, its tests, its
// benchmarks and its tools is made in it, so that none can start the runtime's telemetry.
#pragma once

#include <onnxruntime_cxx_api.h>

namespace quillmere {

// Made on first use, with the runtime's telemetry off and only fatal messages logged.
Ort::Env& runtimeEnvironment();

}  // namespace quillmere
