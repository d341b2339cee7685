#!/usr/bin/env bash
# Builds the default preset, makes the Debian package with CPack and checks it with
# lintian: an error fails (the warnings accepted are listed in the README). The last
# line printed is the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default >&2
rm -f build/default/marrowbeat_*.deb
(cd build/default && cpack -G DEB >&2)
deb=$(ls build/default/marrowbeat_*.deb)
lintian --fail-on error "$deb" >&2
echo "$deb"
