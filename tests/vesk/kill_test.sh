#!/bin/sh
# A run killed at each mutating step in turn: the next recovers, says how, leaves old or new state.
. "$VESK_SOURCE_DIR/tests/support/lib.sh"
[ -z "${VESK_TARGET_BUILD:-}" ] || { finish; exit; }
. "$VESK_SOURCE_DIR/tests/vesk/world.sh"

enumerate() { # SETUP COMMAND...; prints the number of kill points
  fresh && eval "$1" > /dev/null && shift && cp -a root old && old=$(state)
  vesk "$@" > /dev/null && new=$(state) point=1
  while rm -rf root && cp -a old root &&
    ! VESK_TEST_KILL_AT=$point setsid -w vesk "$@" > /dev/null 2>&1; do
    said=$(vesk recover | sed 's/run [0-9]*/run PID/')
    case $point:$(state) in
      "1:$old") how= ;;
      *":$old") how='rolled back' ;;
      *":$new") how=finished ;;
      *) how=neither ;;
    esac
    [ "$said" = "recovered the stale lock of run PID${how:+
$how an interrupted run}" ] || echo "killed at step $point of $*: $said"
    point=$((point + 1))
  done
  echo "$*: $((point - 1))"
}
expect 'kill points' '
  enumerate "publish 2 && vesk update && vesk install hello" install greet
  enumerate "vesk install hello && hello 2 greet=1 NEW && vesk update" upgrade
  enumerate "vesk install hello" remove hello
  enumerate "vesk install hello && publish 2" update' <<'EOF'
install greet: 16
upgrade: 22
remove hello: 9
update: 10
EOF
finish
