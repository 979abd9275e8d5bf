#!/usr/bin/env bash
# Builds the release Debian package with CPack: build/package/ordavo_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset package
cmake --build --preset package
cpack --preset package
