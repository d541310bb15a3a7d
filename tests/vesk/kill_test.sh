#!/bin/sh
# A run killed at each mutating step in turn; the next run recovers, says how, and leaves the old
# or the new `state`. Host only (emulators are slow).
. "$VESK_SOURCE_DIR/tests/support/lib.sh"
[ -z "${VESK_TARGET_BUILD:-}" ] || { finish; exit; }
. "$VESK_SOURCE_DIR/tests/vesk/world.sh"

lock='recovered the stale lock of run PID'
enumerate() { # SETUP COMMAND...: COMMAND killed at each step in turn, then recovered
  fresh && eval "$1" > /dev/null && shift && cp -a root old && old=$(state)
  vesk "$@" > /dev/null && new=$(state) point=1
  while rm -rf root && cp -a old root &&
    ! VESK_TEST_KILL_AT=$point setsid -w sh "$tools/vesk" "$@" > /dev/null 2>&1; do
    said=$(vesk recover | sed 's/run [0-9]*/run PID/')
    case $point:$(state) in
      "1:$old") expected=$lock ;;
      *":$old") expected="$lock
rolled back an interrupted run" ;;
      *":$new") expected="$lock
finished an interrupted run" ;;
      *) expected='neither version' ;;
    esac
    [ "$said" = "$expected" ] || echo "killed at step $point of $*: $said"
    point=$((point + 1))
  done
  [ "$point" -gt 1 ] || echo "$1 was never killed"
  echo "$1: $((point - 1)) kill points" >> "$TEST_TMP/counts"
}
expect 'every kill point' '
  enumerate "publish 2 && vesk update && vesk install hello" install greet
  enumerate "vesk install hello && hello 2 greet=1 NEW && publish 2 &&
    vesk update" upgrade
  enumerate "vesk install hello" remove hello
  enumerate "vesk install hello && publish 2" update' < /dev/null
cat "$TEST_TMP/counts"
finish
