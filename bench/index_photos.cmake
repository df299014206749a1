# SPDX-License-Identifier: GPL-3.0-or-later
# The ViT-B/16-sized encoders, float and int8, that embedder.cmake makes.
foreach(_variant IN ITEMS float int8)
  add_dependencies(${name} embedder_vit_${_variant}_model)
endforeach()
target_compile_definitions(
  ${name} PRIVATE EMBEDDER_VIT_DIR="${CMAKE_CURRENT_BINARY_DIR}/embedder-vit"
                  EMBEDDER_VIT_INT8_DIR="${CMAKE_CURRENT_BINARY_DIR}/embedder-vit-int8")
# The worded photos are drawn as the reader's tests draw them.
target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
target_link_libraries(${name} PRIVATE PkgConfig::VIPS)
