# SPDX-License-Identifier: GPL-3.0-or-later
# The ViT-B/16-sized encoder that embedder.cmake makes: what a photo with no text is measured
# against. The reference pipeline uses Clipper and libvips' text rendering directly.
add_dependencies(${name} embedder_vit_float_model)
target_compile_definitions(${name} PRIVATE EMBEDDER_VIT_DIR="${CMAKE_CURRENT_BINARY_DIR}/embedder-vit")
target_link_libraries(${name} PRIVATE PkgConfig::VIPS PkgConfig::POLYCLIPPING OnnxRuntime::OnnxRuntime)
# The words are drawn as the reader's tests draw them.
target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
# Reading as a user meets it: a library indexed with reading on, then searched.
target_sources(${name} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/support/ReadingQuality.cpp")
