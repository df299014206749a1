# SPDX-License-Identifier: GPL-3.0-or-later
# Random-weight image encoders with the compute of ViT-B/16 at 224, made at build time: the
# float one (EMBEDDER_VIT_DIR), the same weights quantised per channel as the published
# dynamic int8 exports are (EMBEDDER_VIT_INT8_DIR) and in float16 as the published fp16 ones
# are (EMBEDDER_VIT_FP16_DIR); and ViT-B/32's compute in float and int8 (EMBEDDER_VIT_B32_*).
foreach(_variant IN ITEMS float int8 fp16 b32 b32-int8)
  set(_vit_dir "${CMAKE_CURRENT_BINARY_DIR}/embedder-vit-${_variant}")
  string(TOUPPER "EMBEDDER_VIT_${_variant}_DIR" _vit_define)
  string(REPLACE "-" "_" _vit_define "${_vit_define}")
  set(_vit_args "")
  if(_variant MATCHES "int8")
    list(APPEND _vit_args --int8)
  elseif(_variant STREQUAL "fp16")
    list(APPEND _vit_args --fp16)
  endif()
  if(_variant MATCHES "b32")
    list(APPEND _vit_args --patch 32)
  endif()
  if(_variant STREQUAL "float")
    set(_vit_dir "${CMAKE_CURRENT_BINARY_DIR}/embedder-vit")
    set(_vit_define EMBEDDER_VIT_DIR)
  endif()
  add_custom_command(
    OUTPUT "${_vit_dir}/ImageEncoder.onnx" "${_vit_dir}/model.json"
    COMMAND "${QUILLMERE_PYTHON}" "${CMAKE_SOURCE_DIR}/tools/make_vit_model.py" ${_vit_args}
            "${_vit_dir}"
    DEPENDS "${CMAKE_SOURCE_DIR}/tools/make_vit_model.py" "${CMAKE_SOURCE_DIR}/tools/onnx_graphs.py"
    COMMENT "Generating a ViT-sized benchmark encoder (${_variant})"
    VERBATIM)
  add_custom_target(embedder_vit_${_variant}_model DEPENDS "${_vit_dir}/ImageEncoder.onnx")
  add_dependencies(${name} embedder_vit_${_variant}_model)
  target_compile_definitions(${name} PRIVATE ${_vit_define}="${_vit_dir}")
endforeach()
target_link_libraries(${name} PRIVATE PkgConfig::VIPS OnnxRuntime::OnnxRuntime)

# The same compute in the Immich export layout (float NCHW input, batch fixed at 1), imported
# by the engine when the benchmark starts.
set(_published_dir "${CMAKE_CURRENT_BINARY_DIR}/embedder-published")
set(_published_graph "${_published_dir}/immich/ViT-B-16-SigLIP2__webli/visual/model.onnx")
add_custom_command(
  OUTPUT "${_published_graph}"
  COMMAND "${QUILLMERE_PYTHON}" "${CMAKE_SOURCE_DIR}/tools/make_published_models.py" --vit
          "${_published_dir}"
  DEPENDS "${CMAKE_SOURCE_DIR}/tools/make_published_models.py"
          "${CMAKE_SOURCE_DIR}/tools/make_vit_model.py" "${CMAKE_SOURCE_DIR}/tools/onnx_graphs.py"
  COMMENT "Generating the ViT-B/16-sized encoder in the Immich export layout"
  VERBATIM)
add_custom_target(embedder_published_model DEPENDS "${_published_graph}")
add_dependencies(${name} embedder_published_model)
target_compile_definitions(
  ${name} PRIVATE EMBEDDER_PUBLISHED_DIR="${_published_dir}/immich/ViT-B-16-SigLIP2__webli")
