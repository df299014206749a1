# SPDX-License-Identifier: GPL-3.0-or-later
# Random-weight image encoders with the compute of ViT-B/16 at 224, made at build time: the
# float one (EMBEDDER_VIT_DIR), and the same weights quantised per channel as the published
# dynamic int8 exports are (EMBEDDER_VIT_INT8_DIR).
foreach(_variant IN ITEMS float int8)
  if(_variant STREQUAL "float")
    set(_vit_dir "${CMAKE_CURRENT_BINARY_DIR}/embedder-vit")
    set(_vit_args "")
    set(_vit_define EMBEDDER_VIT_DIR)
  else()
    set(_vit_dir "${CMAKE_CURRENT_BINARY_DIR}/embedder-vit-${_variant}")
    set(_vit_args "--${_variant}")
    set(_vit_define EMBEDDER_VIT_INT8_DIR)
  endif()
  add_custom_command(
    OUTPUT "${_vit_dir}/ImageEncoder.onnx" "${_vit_dir}/model.json"
    COMMAND "${QUILLMERE_PYTHON}" "${CMAKE_SOURCE_DIR}/tools/make_vit_model.py" ${_vit_args}
            "${_vit_dir}"
    DEPENDS "${CMAKE_SOURCE_DIR}/tools/make_vit_model.py" "${CMAKE_SOURCE_DIR}/tools/onnx_graphs.py"
    COMMENT "Generating the ViT-B/16-sized benchmark encoder (${_variant})"
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
