#!/bin/sh
# Every mutating step of an install, an upgrade and a remove in turn kills the whole run; the next
# run recovers and says how, leaving the old or the new version whole: files, owned list, records
# and rollback record (see `state`). Host only: under an emulator it takes too long.
. "$VESK_SOURCE_DIR/tests/support/lib.sh"
[ -z "${VESK_TARGET_BUILD:-}" ] || { finish; exit; }
. "$VESK_SOURCE_DIR/tests/vesk/world.sh"

lock='recovered the lock of run PID, which ended without releasing it'
enumerate() { # SETUP COMMAND...: COMMAND after SETUP, killed at each step in turn, then recovered
  setup=$1
  shift
  fresh && eval "$setup" > /dev/null && cp -a root old && old=$(state)
  vesk "$@" > /dev/null && new=$(state)
  point=1
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
    [ "$said" = "$expected" ] || printf 'killed at step %s of %s: %s\n' "$point" "$*" "$said"
    point=$((point + 1))
  done
  echo "$1: $((point - 1)) kill points" >> "$TEST_TMP/counts"
}
expect 'every kill point of an install, an upgrade and a remove' '
  enumerate "greet - && publish 2 && vesk install repo hello" install repo greet
  enumerate "vesk install repo hello && greet - && hello 2 greet=1 NEW && publish 2" upgrade repo
  enumerate "vesk install repo hello" remove hello' < /dev/null
cat "$TEST_TMP/counts"
finish
