#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Ordavo needs.
# Skips what is already installed; works as root or through sudo.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
    libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev libicu-dev
    clang-14 libclang-rt-14-dev
    fonts-dejavu-core xvfb xauth x11-utils xdotool imagemagick
    dpkg-dev file librsvg2-bin lintian appstream desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup: need root or sudo to install: ${missing[*]}" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
