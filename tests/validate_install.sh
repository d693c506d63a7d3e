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
         "$share/man/man1/ondelith.1" "$share/man/man1/ondelith-render.1"; do
  [[ -s $f ]] || { echo "missing after install: $f" >&2; exit 1; }
done
desktop-file-validate "$share/applications/ondelith.desktop"
appstreamcli validate --no-net --pedantic "$share/metainfo/"*.metainfo.xml
# The man pages format without a warning.
for page in ondelith ondelith-render; do
  warnings=$(MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1" 2>&1 >/dev/null || true)
  [[ -z $warnings ]] || { echo "$page.1: $warnings" >&2; exit 1; }
done
echo "installed files validate"
