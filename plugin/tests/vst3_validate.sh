#!/usr/bin/env bash
# The VST 3 SDK's validator on the built bundle: every suite, then with -e the
# extensive ones too (odd sample rates among them). The framework prints an
# assertion for each of the validator's deliberate misuses: those lines go to
# a file, and only the validator's verdict and our own log lines reach the
# test log.
#
#   vst3_validate.sh VALIDATOR BUNDLE [-e]
set -euo pipefail
validator=$1 bundle=$2
shift 2
[[ -x $validator ]] || { echo "vst3_validate.sh: no validator at $validator" >&2; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
"$validator" "$@" "$bundle" >"$work/out" 2>"$work/err" || status=$?
grep -a '^Ondelith:' "$work/err" || true
result=$(grep -a '^Result:' "$work/out" || true)
echo "${result:-no result}"
if [[ $status -ne 0 || ! $result =~ ^Result:\ [0-9]+\ tests\ passed,\ 0\ tests\ failed ]]; then
  grep -a -B2 -A8 'Failed' "$work/out" | head -n 80
  tail -n 20 "$work/err"
  exit 1
fi
# A refused sample rate is said once each, never more.
if grep -a '^Ondelith:' "$work/err" | sort | uniq -d | grep -q .; then
  echo "a log line repeats" >&2
  exit 1
fi
