#!/usr/bin/env bash
# cmake --install of the three plugin components into a scratch prefix: each
# bundle where hosts look, with the licence, and each loads from there.
#
#   install_check.sh BUILD_DIR LICENSE [VST3_VALIDATOR]
set -euo pipefail
build=$1 licence=$2 validator=${3:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
for component in lv2 vst3 clap; do
  cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done
fail() { echo "install_check.sh: $*" >&2; exit 1; }
lv2=$prefix/lib/lv2/ondelith.lv2 vst3=$prefix/lib/vst3/ondelith.vst3
for f in "$lv2"/{manifest.ttl,ondelith.ttl,presets.ttl,ondelith.so,LICENSE} \
         "$vst3"/Contents/{Resources/LICENSE,"$(uname -m)"-linux/ondelith.so} "$prefix/lib/clap/ondelith.clap"; do
  [[ -f $f ]] || fail "not installed: ${f#"$prefix"/}"
done
cmp -s "$licence" "$lv2/LICENSE" || fail "the LV2 bundle's licence is not the project's"
# Read whole first: grep -q stopping early would fail the pipe under pipefail.
info=$(LV2_PATH=$prefix/lib/lv2 lv2info urn:ondelith:lv2)
grep -q "Binary: *file://$lv2/ondelith.so" <<<"$info" || fail "lv2info does not find the installed bundle"
if [[ -x $validator ]]; then
  "$validator" -q "$vst3" >/dev/null 2>&1 || fail "the installed VST3 bundle does not validate"
fi
echo "installed: lib/lv2/ondelith.lv2 lib/vst3/ondelith.vst3 lib/clap/ondelith.clap"
