#!/usr/bin/env bash
# Builds the release Debian package with CPack: build/package/ordavo_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset package
cmake --build --preset package
# A package of an earlier version must not stand beside the new one: the checks and the README's
# install command take every build/package/ordavo_*.deb.
rm -f build/package/ordavo_*.deb
cpack --preset package
