# A random-weight image encoder with the compute of ViT-B/16 at 224, made at build time.
set(_vit_dir "${CMAKE_CURRENT_BINARY_DIR}/embedder-vit")
add_custom_command(
  OUTPUT "${_vit_dir}/ImageEncoder.onnx" "${_vit_dir}/model.json"
  COMMAND "${QUILLMERE_PYTHON}" "${CMAKE_SOURCE_DIR}/tools/make_vit_model.py" "${_vit_dir}"
  DEPENDS "${CMAKE_SOURCE_DIR}/tools/make_vit_model.py" "${CMAKE_SOURCE_DIR}/tools/onnx_graphs.py"
  COMMENT "Generating the ViT-B/16-sized benchmark encoder"
  VERBATIM)
add_custom_target(embedder_vit_model DEPENDS "${_vit_dir}/ImageEncoder.onnx")
add_dependencies(${name} embedder_vit_model)
target_compile_definitions(${name} PRIVATE EMBEDDER_VIT_DIR="${_vit_dir}")
target_link_libraries(${name} PRIVATE PkgConfig::VIPS OnnxRuntime::OnnxRuntime)
