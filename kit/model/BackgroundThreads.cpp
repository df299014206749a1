// SPDX-License-Identifier: GPL-3.0-or-later
// Background-priority worker threads for the runtime's sessions.
#include "model/BackgroundThreads.h"

#include <algorithm>
#include <future>
#include <thread>

#include "platform/ThreadPriority.h"

namespace quillmere {
namespace {

OrtCustomThreadHandle startBackgroundThread(void*, OrtThreadWorkerFn work, void* param) {
  try {
    // The runtime may hand work to a thread the moment this returns, so it waits until the
    // thread has lowered itself.
    std::promise<void> lowered;
    auto ready = lowered.get_future();
    auto* thread = new std::thread([work, param, &lowered] {
      ThreadPriority::background();
      lowered.set_value();
      work(param);
    });
    ready.wait();
    return reinterpret_cast<OrtCustomThreadHandle>(thread);
  } catch (...) {
    return nullptr;  // the runtime reports a thread it could not have
  }
}

void joinBackgroundThread(OrtCustomThreadHandle handle) {
  auto* thread = reinterpret_cast<std::thread*>(const_cast<OrtCustomHandleType*>(handle));
  thread->join();
  delete thread;
}

}  // namespace

void useBackgroundThreads(Ort::SessionOptions& options) {
  options.SetCustomCreateThreadFn(startBackgroundThread);
  options.SetCustomJoinThreadFn(joinBackgroundThread);
  // Between runs the indexer decodes and stores on these cores.
  options.AddConfigEntry("session.force_spinning_stop", "1");
}

Ort::SessionOptions backgroundSessionOptions() {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  options.SetInterOpNumThreads(1);
  options.SetExecutionMode(ExecutionMode::ORT_SEQUENTIAL);
  options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
  useBackgroundThreads(options);
  return options;
}

}  // namespace quillmere
