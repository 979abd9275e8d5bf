#!/usr/bin/env bash
# Drives the real program under Xvfb with the keyboard: search for a phrase, page through the
# matches, open the export wizard and export the whole database, then close everything. Saves
# screenshots of the main window in filter mode and of the wizard.
#   end_to_end_search_export.sh PROGRAM MAKE_DATABASE OUTPUT_FOLDER
set -euo pipefail
program="$1"
make_database="$2"
out="$3"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
"$make_database" default_db 40 7

xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    set -euo pipefail
    program="$1"; out="$2"
    wait_window() {  # name
        for _ in $(seq 1 300); do
            id="$(xdotool search --name "$1" 2>/dev/null | head -n 1 || true)"
            if [ -n "$id" ]; then echo "$id"; return 0; fi
            sleep 0.1
        done
        echo "end-to-end: no window \"$1\"" >&2
        return 1
    }
    keys() {  # window key...
        local window="$1"; shift
        xdotool windowfocus --sync "$window" key --clearmodifiers "$@"
        sleep 0.4
    }
    "$program" & pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    main="$(wait_window "^Ordavo$")"
    sleep 1
    # The first key press may come before the window takes keys: try again until it opens.
    search=""
    for _ in $(seq 1 10); do
        keys "$main" ctrl+f
        search="$(xdotool search --name "^Ordavo - Wyszukiwarka$" 2>/dev/null | head -n 1 || true)"
        [ -n "$search" ] && break
        sleep 1
    done
    [ -n "$search" ] || { echo "end-to-end: the search dialog did not open" >&2; exit 1; }
    xdotool windowfocus --sync "$search" type --delay 50 "Noc"
    keys "$search" Tab Down Return
    result="$(wait_window "^Kinokrat - Wyniki wyszukiwania$")"
    keys "$result" Return
    keys "$main" alt+Right
    import -window root "$out/filter_mode.png"
    keys "$main" ctrl+shift+e
    wizard="$(wait_window "^Ordavo - Kreator Eksportu$")"
    keys "$wizard" space Tab space
    import -window root "$out/export_wizard.png"
    keys "$wizard" alt+e
    chooser="$(wait_window "^Eksportuj$")"
    xdotool windowfocus --sync "$chooser" type --delay 30 "$PWD/wynik.csv"
    keys "$chooser" Return
    sleep 1
    keys "$wizard" Escape
    keys "$main" ctrl+q
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then echo "end-to-end: the window did not close" >&2; exit 1; fi
    wait "$pid"
    trap - EXIT
' end-to-end "$program" "$out"

test -s wynik.csv
head -c 40 wynik.csv | grep -q "Ordavo - wyeksportowane dane "
grep -q "Tabela główna - Film " wynik.csv || grep -aq "Tabela g" wynik.csv
echo "end-to-end: searched, paged the filter and exported $(wc -l < wynik.csv) lines; screenshots in $out"
