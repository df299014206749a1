# SPDX-License-Identifier: GPL-3.0-or-later
# ONNX Runtime either from the distribution (libonnxruntime-dev) or from the folder that
# scripts/setup fills on systems without that package. Defines OnnxRuntime::OnnxRuntime.
if(TARGET OnnxRuntime::OnnxRuntime)
  return()
endif()

set(_ort_local "${CMAKE_SOURCE_DIR}/third_party/onnxruntime")
if(EXISTS "${_ort_local}/include/onnxruntime_cxx_api.h")
  add_library(OnnxRuntime::OnnxRuntime SHARED IMPORTED GLOBAL)
  set_target_properties(OnnxRuntime::OnnxRuntime PROPERTIES
    IMPORTED_LOCATION "${_ort_local}/lib/libonnxruntime.so.1"
    IMPORTED_SONAME "libonnxruntime.so.1"
    INTERFACE_INCLUDE_DIRECTORIES "${_ort_local}/include")
  set(ONNXRUNTIME_LIBRARY_DIR "${_ort_local}/lib")
  message(STATUS "ONNX Runtime: ${_ort_local}")
else()
  find_path(_ort_include onnxruntime_cxx_api.h PATH_SUFFIXES onnxruntime REQUIRED)
  find_library(_ort_library onnxruntime REQUIRED)
  add_library(OnnxRuntime::OnnxRuntime SHARED IMPORTED GLOBAL)
  set_target_properties(OnnxRuntime::OnnxRuntime PROPERTIES
    IMPORTED_LOCATION "${_ort_library}"
    INTERFACE_INCLUDE_DIRECTORIES "${_ort_include}")
  message(STATUS "ONNX Runtime: ${_ort_library}")
endif()
