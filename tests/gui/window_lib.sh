# Shared steps of the window tests, sourced by linux_window_test.sh and
# wine_window_test.sh. They drive the program the way a person would: on a
# private X server, find the window by its title, look at it, press Return.
# Every wait is bounded; only processes started here are stopped, by PID.

readonly WINDOW_TITLE="Velmora 2D Studio"
readonly TESTS_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
XVFB_PID=""
APP_PID=""

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# wait_until SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds.
wait_until() {
    local tries=$(($1 * 10))
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

stop_started_processes() {
    if [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; then
        kill "$APP_PID" 2>/dev/null || true
        wait "$APP_PID" 2>/dev/null || true
    fi
    if [ -n "$XVFB_PID" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
}

# Starts Xvfb on the first free display and exports DISPLAY.
start_xvfb() {
    local out="$1"
    : >"$out/xvfb.display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        3>"$out/xvfb.display" 2>"$out/xvfb.log" &
    XVFB_PID=$!
    wait_until 20 grep -q '^[0-9]' "$out/xvfb.display" || fail "Xvfb did not start (see $out/xvfb.log)"
    export DISPLAY=":$(head -n1 "$out/xvfb.display")"
    echo "Xvfb on $DISPLAY"
}

app_running() {
    local state
    state=$(ps -o stat= -p "$APP_PID" 2>/dev/null) || return 1
    [[ $state != Z* ]]
}

app_ended() {
    ! app_running
}

visible_window() {
    timeout 10 xdotool search --onlyvisible --name "^${WINDOW_TITLE}\$" 2>/dev/null | head -n1
}

window_shown() {
    [ -n "$(visible_window)" ]
}

window_gone() {
    ! window_shown
}

# check_window OUT SHOT COMMAND...: runs COMMAND, which must show the
# information window and block; looks at it, dismisses it with Return and
# checks that it ends the way a user expects.
check_window() {
    local out="$1" shot="$2"
    shift 2
    "$@" >"$out/window.stdout" 2>"$out/window.stderr" &
    APP_PID=$!
    wait_until 60 window_shown || fail "no window titled \"$WINDOW_TITLE\" appeared"
    local window
    window=$(visible_window)
    [ "$(timeout 10 xdotool getwindowname "$window")" = "$WINDOW_TITLE" ] || fail "window title differs"
    # Give a program that would not block the time to run past the window.
    sleep 1
    app_running || fail "the program returned while its window was still shown"
    [ ! -s "$out/window.stdout" ] || fail "the program printed while its window was shown"

    timeout 30 import -window "$window" "$shot" || fail "screenshot failed"
    local colours
    colours=$(identify -format '%k' "$shot")
    echo "screenshot $shot: $(identify -format '%wx%h' "$shot") pixels, $colours colours"
    # Text, icon and button: a blank or half-drawn window has only a few.
    [ "$colours" -ge 64 ] || fail "window looks empty ($colours colours)"

    timeout 10 xdotool windowfocus --sync "$window" key Return || fail "could not press Return"
    wait_until 20 app_ended || fail "the program did not return after its window was closed"
    local status=0
    wait "$APP_PID" || status=$?
    APP_PID=""
    [ "$status" -eq 0 ] || fail "exit status $status after closing the window, expected 0"
    [ ! -s "$out/window.stdout" ] || fail "standard output not empty: $(head -c 300 "$out/window.stdout")"
    [ ! -s "$out/window.stderr" ] || fail "error stream not empty: $(head -c 300 "$out/window.stderr")"
    wait_until 10 window_gone || fail "the window is still shown after the program returned"
    echo "window shown, blocked, closed with Return: status 0, no output"
}

# check_no_display OUT EXE [cli_check options...]: without a display the
# program prints the usage text and succeeds, through the golden check.
check_no_display() {
    local out="$1" exe="$2"
    shift 2
    env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 cmake -DEXE="$exe" -DARGS=--gui -DSTATUS=0 \
        -DGOLDEN="$TESTS_DIR/golden/usage.txt" -DTEST_NAME=no_display \
        -DWORKDIR="$out/no-display" "$@" -P "$TESTS_DIR/cli_check.cmake" \
        || fail "no-display fallback"
    echo "no display: usage text, status 0, no error output"
}
