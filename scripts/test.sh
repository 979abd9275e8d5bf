#!/usr/bin/env bash
# Builds Ordavo and runs every test. Usage: scripts/test.sh [preset]   (default: "default")
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/setup.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
