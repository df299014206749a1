#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The set-up's ONNX Runtime fetch asks apt for one Packages index alone, even where the
# machine's apt configuration adds other index targets (apt-file's Contents files), which a
# mirror in mid-sync can fail. Nothing is downloaded: apt only prints what it would fetch.
# fetch-index-test.sh SOURCE_DIR
set -euo pipefail
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
# What apt-file installs in /etc/apt/apt.conf.d.
cat >"$tmp/apt.conf" <<'CONF'
Acquire::IndexTargets::deb::Contents-deb {
  MetaKey "$(COMPONENT)/Contents-$(ARCHITECTURE)";
  ShortDescription "Contents-$(ARCHITECTURE)";
  Description "$(RELEASE)/$(COMPONENT) $(ARCHITECTURE) Contents (deb)";
};
CONF
uris="$(APT_CONFIG="$tmp/apt.conf" "$1/scripts/fetch-onnxruntime" --index-uris trixie)"
arch="$(dpkg --print-architecture)"
fail() {
  printf 'fetch index test: %s\n%s\n' "$1" "$uris" >&2
  exit 1
}
grep -q "/dists/trixie/main/binary-$arch/Packages" <<<"$uris" || fail "no Packages index asked for"
if grep -v -E -e '/InRelease$' -e "/main/binary-($arch|all)/Packages" <<<"$uris"; then
  fail "more than the Packages index asked for"
fi
echo "fetch index test: the Packages index of main alone, in $(wc -l <<<"$uris") files"
