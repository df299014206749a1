# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the memory benchmarks: makes, once per build tree, the export shaped like SigLIP 2
# B/16 in $work/export, and the same in float16 in $work/export-fp16 (set root and work first).
if [[ ! -f $work/.fixture ]]; then
  rm -rf "$work"
  /usr/bin/python3 "$root/tools/make_published_models.py" --siglip2-b16 "$work/export"
  touch "$work/.fixture"
fi
if [[ ! -f $work/.fixture-fp16 ]]; then
  rm -rf "$work/export-fp16"
  /usr/bin/python3 "$root/tools/make_published_models.py" --siglip2-b16-fp16 "$work/export-fp16"
  touch "$work/.fixture-fp16"
fi
