#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs every test through CTest.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/bootstrap.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
