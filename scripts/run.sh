#!/usr/bin/env bash
# Builds Ordavo and starts it in the current folder (its database is ./default_db).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
(cd "$root" && cmake --preset default >/dev/null && cmake --build --preset default --target ordavo)
exec "$root/build/default/src/app/ordavo" "$@"
