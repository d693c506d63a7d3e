#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop reads:
# the .desktop entry, the AppStream metainfo, the icon and the man pages.
#   validate_install.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || { echo "validate_install.sh: $tool is not installed" >&2; exit 77; }
done
prefix=$(mktemp -d "${TMPDIR:-/tmp}/ondelith-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
for f in "$prefix/bin/ondelith" "$prefix/bin/ondelith-render" \
         "$share/icons/hicolor/scalable/apps/ondelith.svg" \
         "$share/man/man1/ondelith.1.gz" "$share/man/man1/ondelith-render.1.gz" \
         "$share/doc/ondelith/LICENSE" "$share/mime/packages/ondelith.xml"; do
  [[ -s $f ]] || { echo "missing after install: $f" >&2; exit 1; }
done
# The factory bank: every sound its list names.
bank=$share/ondelith/sounds
[[ -s $bank/bank.list ]] || { echo "missing after install: $bank/bank.list" >&2; exit 1; }
grep -v '^#' "$bank/bank.list" | cut -f4 | while read -r sound; do
  [[ -s $bank/$sound ]] || { echo "missing after install: $bank/$sound" >&2; exit 1; }
done
desktop-file-validate "$share/applications/ondelith.desktop"
appstreamcli validate --no-net --pedantic "$share/metainfo/"*.metainfo.xml
# The patch type as the desktop's MIME database reads it: a .vx file is one,
# and the desktop entry opens it.
if command -v update-mime-database >/dev/null; then
  XDG_DATA_DIRS=$share update-mime-database "$share/mime" 2>&1 | { ! grep .; } || { echo "ondelith.xml does not read" >&2; exit 1; }
  grep -q '^application/x-ondelith-patch:\*\.vx$' "$share/mime/globs" ||
    { echo "no *.vx glob for application/x-ondelith-patch" >&2; exit 1; }
fi
grep -qx 'MimeType=application/x-ondelith-patch;' "$share/applications/ondelith.desktop"
grep -q '^Exec=ondelith %f$' "$share/applications/ondelith.desktop"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$share/metainfo/"*.metainfo.xml
# The man pages format without a warning.
for page in ondelith ondelith-render; do
  warnings=$(MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1.gz" 2>&1 >/dev/null || true)
  [[ -z $warnings ]] || { echo "$page.1: $warnings" >&2; exit 1; }
done
echo "installed files validate"
