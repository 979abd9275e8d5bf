#!/usr/bin/env bash
# Builds Ordavo and starts it in the current folder (its database is ./default_db).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
cmake --preset default -S "$root" >/dev/null
cmake --build --preset default --target ordavo-cli
echo "The window is not built yet; the command-line tool is: $root/build/default/src/app/ordavo-cli"
