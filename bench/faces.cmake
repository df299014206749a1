# SPDX-License-Identifier: GPL-3.0-or-later
# The reference pipeline runs the face model's two graphs on ONNX Runtime directly.
target_link_libraries(${name} PRIVATE PkgConfig::VIPS OnnxRuntime::OnnxRuntime)
target_compile_definitions(${name} PRIVATE QUILLMERE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
