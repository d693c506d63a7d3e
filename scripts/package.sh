#!/usr/bin/env bash
# Builds the Debian package (ondelith_VERSION-REVISION_ARCH.deb) from a release
# build into build/package/ and checks it with lintian, which must report no
# error. Run as any user: nothing here needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh dpkg-dev file lintian
# The package's changelog is dated by the last commit, so the same tree
# makes the same package.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target ondelith ondelith-render ondelith_plugins
rm -rf build/package/_CPack_Packages
cpack --config build/release/CPackConfig.cmake -B build/package
rm -rf build/package/_CPack_Packages
deb=$(ls -t build/package/*.deb | head -n 1)
echo "== lintian $deb"
lintian --fail-on error --display-info "$deb"
