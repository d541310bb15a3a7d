# shellcheck shell=sh
# Trees for tree_test.sh and the race cases of tree_test.cc. $IO runs vesk-io;
# VESK_SOURCE_DIR names the source tree.

# ./package: a one-file package (usr/local/bin/hello, 600 bytes) made by the example packer.
package() {
  mkdir -p p/t/data/usr/local/bin p/o && echo format=1 >p/t/meta &&
    head -c 600 /dev/zero >p/t/data/usr/local/bin/hello && chmod 755 p/t/data/usr/local/bin/hello &&
    VESK_IO=$IO sh "$VESK_SOURCE_DIR/examples/pack.sh" p/t p/o >/dev/null && cat p/o/*.vesk >package
}

# The race cases run in a fresh directory holding ./package: r/SWAPPED is on the walked path,
# r/SWAPPED.d the decoy another process keeps exchanging with it, o a directory outside.

# SWAPPED link|owner|mode: the decoy is a link to o, or a copy of o of uid 1000 or mode 0777.
race_trees() {
  mkdir -p o/bin "r/$1/bin" && echo OUTSIDE >o/bin/seen && echo hello >"r/$1/bin/seen" &&
    case $2 in
      link) ln -s "$PWD/o" "r/$1.d" ;;
      owner) cp -a o "r/$1.d" && chown 1000 "r/$1.d" ;;
      mode) cp -a o "r/$1.d" && chmod 0777 "r/$1.d" ;;
    esac
}

# SWAPPED: what no run may change, the outside and the decoy.
race_outside() { find o "r/$1.d/" -printf '%p %m %U %s\n' | sort; }

# RUNS COMMAND: the runs in r, each status (and any output) in out, failure lines in err.
race_runs() {
  # shellcheck disable=SC2086
  (cd r && for _ in $(seq "$1"); do
    $IO $2 <../package 2>>../err
    echo "= $?"
    rm -f meta files
  done) >out
}

# SWAPPED: the real directory put back, then race_outside's lines unchanged, and only
# what must not be: another line on stderr, a failed run without its line, other output
# than observe's line for the real file.
race_after() {
  if grep -qs OUTSIDE "r/$1/bin/seen"; then
    mv "r/$1" x && mv "r/$1.d" "r/$1" && mv x "r/$1.d"
  fi
  race_outside "$1"
  grep -v '^vesk-io: ' err
  [ "$(grep -c '^= 1$' out)" = "$(wc -l <err)" ] || echo counts differ
  grep -v '^= [01]$' out | grep -vx "$(printf 'f\t0644\t0\t0\t6\t-')"
}
