# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the memory benchmarks: makes, once per build tree, the export shaped like SigLIP 2
# B/16 in $work/export (set root and work first).
if [[ ! -f $work/.fixture ]]; then
  rm -rf "$work"
  /usr/bin/python3 "$root/tools/make_published_models.py" --siglip2-b16 "$work/export"
  touch "$work/.fixture"
fi
