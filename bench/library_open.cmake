# SPDX-License-Identifier: GPL-3.0-or-later
# The built benchmark library is cached under the benchmark tree and reused across runs.
target_compile_definitions(${name} PRIVATE QUILLMERE_BENCH_DIR="${CMAKE_BINARY_DIR}")
# The library's database and whole pending list, as the tests reach them.
target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
