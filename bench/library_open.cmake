# SPDX-License-Identifier: GPL-3.0-or-later
# The built benchmark library is cached under the benchmark tree and reused across runs.
target_compile_definitions(${name} PRIVATE QUILLMERE_BENCH_DIR="${CMAKE_BINARY_DIR}")
