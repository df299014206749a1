// SPDX-License-Identifier: GPL-3.0-or-later
// The runtime's worker threads for a session whose work is background work (embedding while
// indexing, reading text): they run at background priority, so the window and a search typed
// meanwhile do not wait behind them, and block as soon as a run ends instead of spinning.
#pragma once

#include <onnxruntime_cxx_api.h>

namespace quillmere {

void useBackgroundThreads(Ort::SessionOptions& options);

// A background session on every core, one graph node at a time, fully optimised: how the
// indexer's stages (reading text, finding faces) run their graphs beside the embedder.
Ort::SessionOptions backgroundSessionOptions();

}  // namespace quillmere
