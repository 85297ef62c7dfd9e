#!/usr/bin/env bash
# Builds the tree and starts the host with the demo application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec build/bin/remote "$@"
