#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on the demo setup (or on
# the setup given as the argument).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default
if [ "$#" -gt 0 ]; then
  exec build/default/src/app/marrowbeat "$@"
fi
exec build/default/src/app/marrowbeat examples/demo.mbx
