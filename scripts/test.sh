#!/usr/bin/env bash
# Installs what is missing, builds every test in the normal, the ASan+UBSan and the
# TSan builds, and runs them: all tests in the first two, the step clock's and the
# engine's tests under TSan. Then builds the Debian package and (in CI) installs, runs
# and purges it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# A sound server with a null sink for the end-to-end sound test (CI has no sound card).
source scripts/sound-server.sh
start_sound_server

jobs=$(nproc)
status=0
for preset in default asan tsan; do
  echo "=== $preset build ==="
  scripts/build.sh "$preset"
  echo "=== $preset tests ==="
  if ! ctest --preset "$preset" -j "$jobs"; then
    status=1
  fi
done

echo "=== Debian package: lintian, install, run, purge ==="
if ! scripts/package-test.sh; then
  status=1
fi

echo "=== fuzz targets: replay the seed corpora ==="
scripts/build.sh fuzz
if ! ctest --preset fuzz; then
  status=1
fi
exit $status
