# SPDX-License-Identifier: GPL-3.0-or-later
# The library of pending files is made under the benchmark tree and removed afterwards.
target_compile_definitions(${name} PRIVATE QUILLMERE_BENCH_DIR="${CMAKE_BINARY_DIR}")
