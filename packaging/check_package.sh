#!/usr/bin/env bash
# Checks the Debian package as a user's system would take it: lintian finds no error, the files
# land where a desktop looks for them and pass desktop-file-validate and appstreamcli, and the
# unpacked programs run: ordavo-cli --help, and the window under Xvfb, started as from the
# applications menu (the database in $XDG_DATA_HOME/ordavo) and as from a terminal (in the
# working folder).
#   check_package.sh PACKAGE.deb
set -euo pipefail
deb="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/root"
app_id=io.github.ordavo.Ordavo

echo "package: $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb --field "$deb" Depends | grep -q 'qt6-translations-l10n' ||
    { echo "package: qt6-translations-l10n is not among the dependencies" >&2; exit 1; }

echo "package: lintian"
lintian --fail-on error "$deb"

dpkg-deb -x "$deb" "$root"
for file in bin/ordavo bin/ordavo-cli \
            share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
            share/icons/hicolor/48x48/apps/$app_id.png share/icons/hicolor/128x128/apps/$app_id.png \
            share/icons/hicolor/256x256/apps/$app_id.png share/icons/hicolor/scalable/apps/$app_id.svg \
            share/man/man1/ordavo.1.gz share/man/man1/ordavo-cli.1.gz \
            share/doc/ordavo/copyright share/doc/ordavo/changelog.gz; do
    test -s "$root/usr/$file" || { echo "package: /usr/$file is missing" >&2; exit 1; }
done
desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"

"$root/usr/bin/ordavo-cli" --help >/dev/null

# How each start is made: its name, its environment, its options, the folder it starts in, and
# where its database must appear. The menu starts in the home folder, as a desktop does.
menu_exec="$(sed -n 's/^Exec=ordavo\b//p' "$root/usr/share/applications/$app_id.desktop")"
starts=(
    "menu|XDG_DATA_HOME=$work/data|$menu_exec|$work/home|$work/data/ordavo/default_db"
    "menu without XDG_DATA_HOME|-u XDG_DATA_HOME|$menu_exec|$work/home|$work/home/.local/share/ordavo/default_db"
    "terminal|-u XDG_DATA_HOME||$work/films|$work/films/default_db"
)
mkdir -p "$work/home" "$work/films"
HOME="$work/home" xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    program="$1"; shift
    for start in "$@"; do
        IFS="|" read -r name environment options folder database <<<"$start"
        # shellcheck disable=SC2086
        (cd "$folder" && exec env $environment "$program" $options) & pid=$!
        window=""
        for _ in $(seq 1 150); do
            window="$(xdotool search --pid "$pid" --name "^Ordavo$" 2>/dev/null | head -n 1 || true)"
            [ -n "$window" ] && break
            sleep 0.1
        done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        [ -n "$window" ] || { echo "package: no window after a start from the $name" >&2; exit 1; }
        [ -f "$database/KR.kr" ] ||
            { echo "package: a start from the $name left no database in $database" >&2; exit 1; }
        echo "package: a start from the $name showed its window and opened $database"
    done
' check "$root/usr/bin/ordavo" "${starts[@]}"
[ ! -e "$work/home/default_db" ] ||
    { echo "package: a start from the menu left default_db in its working folder" >&2; exit 1; }
echo "package: lintian without errors, desktop entry and metainfo valid, ordavo-cli and ordavo run"
