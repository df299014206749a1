# SPDX-License-Identifier: GPL-3.0-or-later
# Every library the engine, tests and tools use, found once for the whole tree.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(VIPS REQUIRED IMPORTED_TARGET vips)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswscale libavutil)
pkg_check_modules(OPENBLAS REQUIRED IMPORTED_TARGET openblas)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
# Clipper: the polygon offset that grows text boxes back to their trained margin.
pkg_check_modules(POLYCLIPPING REQUIRED IMPORTED_TARGET polyclipping)
find_package(nlohmann_json 3 REQUIRED)
# ONNX's own protobuf classes: the import widens float16 encoders with them.
find_package(Protobuf REQUIRED)
find_package(ONNX REQUIRED)
include(FindOnnxRuntime)

if(QUILLMERE_TESTS)
  find_package(GTest REQUIRED)
endif()
if(QUILLMERE_BENCH)
  find_package(benchmark REQUIRED)
  # Only the vector search benchmark's parallel_for anchor uses TBB.
  find_package(TBB REQUIRED)
endif()

find_program(QUILLMERE_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
