#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/run scroll [ROUNDS]: the main window's grid of 300 results scrolled from top to
# bottom, one 60-point step a frame, with the pictures loading as tiles come into view, first
# alone and then while 480 full-size photos are being indexed in the same process. The
# application's test of it runs in an optimised tree of its own (the benchmark tree has no
# tests), ROUNDS times each; the median of the longest frames is set against a 50 ms frame.
set -euo pipefail
rounds="${2:-3}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/bench-scroll"
"$root/scripts/build" build/bench-scroll -DCMAKE_BUILD_TYPE=Release -DQUILLMERE_APP=ON \
  -- quillmere_app_tests >/dev/null
for mode in alone indexing; do
  longest=()
  for ((i = 0; i < rounds; i++)); do
    line="$(QT_QPA_PLATFORM=offscreen QUILLMERE_SCROLL_BENCH="$mode" \
      "$build/tests/quillmere_app_tests" \
      --gtest_filter=MainWindowTest.ScrollingThroughThreeHundredResultsKeepsFramesShort 2>&1 |
      grep -E '^scrolled 300 results' || true)"
    if [[ -z $line ]]; then
      echo "the scroll test printed no measurement ($mode)" >&2
      exit 1
    fi
    echo "$line"
    longest+=("$(sed -E 's/.*longest frame ([0-9]+) ms.*/\1/' <<<"$line")")
  done
  median="$(printf '%s\n' "${longest[@]}" | sort -n |
    awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')"
  awk -v m="$median" -v mode="$mode" 'BEGIN {printf "ratio longest_frame_%s/50ms %.3f " \
    "target <= 1 (median longest frame %d ms)\n", mode, m / 50, m}'
done
