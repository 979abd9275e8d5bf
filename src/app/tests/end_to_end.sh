#!/usr/bin/env bash
# Starts the real program under Xvfb in an empty folder, waits for its window, saves a screenshot,
# checks that Escape and Enter leave it open and that Ctrl+Q closes it, and that the program
# created its database. Then starts it under a file-size limit smaller than one film row: "Nowy"
# must end in a message box, not in the death of the program.
#   end_to_end.sh PROGRAM SCREENSHOT.png
set -euo pipefail
program="$1"
screenshot="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

run_once() {
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    program="$1"; screenshot="$2"
    wait_window() {  # name
        for _ in $(seq 1 150); do
            id="$(xdotool search --name "$1" 2>/dev/null | head -n 1 || true)"
            if [ -n "$id" ]; then echo "$id"; return 0; fi
            sleep 0.1
        done
        return 1
    }
    ended() {  # pid: waits up to 10 s for it to end
        for _ in $(seq 1 100); do
            kill -0 "$1" 2>/dev/null || return 0
            sleep 0.1
        done
        return 1
    }
    "$program" & pid=$!
    if ! window="$(wait_window "^Ordavo$")"; then
        echo "end-to-end: no window appeared" >&2
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    sleep 1
    import -window root "$screenshot"
    xdotool windowfocus --sync "$window" key --clearmodifiers Escape Return
    sleep 1
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "end-to-end: Escape or Enter closed the window" >&2
        exit 1
    fi
    xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+q
    if ! ended "$pid"; then
        echo "end-to-end: the window did not close on Ctrl+Q" >&2
        kill "$pid"
        exit 1
    fi
    wait "$pid"

    # Once the window is up (the display connection and font caches need more), a file-size
    # limit of 20,000 bytes: a film row of 31,888 bytes does not fit.
    mkdir limited && cd limited
    "$program" & pid=$!
    if ! window="$(wait_window "^Ordavo$")"; then
        echo "end-to-end: no window appeared in the second run" >&2
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    prlimit --pid "$pid" --fsize=20000
    sleep 1
    message=""
    for _ in $(seq 1 5); do
        xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+n
        message="$(wait_window "^Kinokrat - Błąd pliku$" || true)"
        [ -n "$message" ] && break
    done
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "end-to-end: the program died at the file-size limit" >&2
        exit 1
    fi
    if [ -z "$message" ]; then
        echo "end-to-end: no message at the file-size limit" >&2
        kill "$pid"
        exit 1
    fi
    xdotool windowfocus --sync "$message" key --clearmodifiers Return
    sleep 0.5
    xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+q
    if ! ended "$pid"; then
        echo "end-to-end: the window did not close after the message" >&2
        kill "$pid"
        exit 1
    fi
    wait "$pid"
    test "$(stat -c %s default_db/KR_PDB.kr)" -eq 0
' end-to-end "$program" "$screenshot"
}

# A program that dies before its window appears (seen rarely under a sanitizer on a loaded
# machine) gets one more try; its output is shown either way.
if ! run_once 2>"$work/first.log"; then
    cat "$work/first.log" >&2
    rm -rf default_db limited
    run_once
fi

test -s "$screenshot"
test "$(stat -c %s default_db/KR.kr)" -eq 36
echo "end-to-end: window shown, screenshot in $screenshot, kept open by Escape and Enter, closed by Ctrl+Q; a file-size limit ended in a message"
