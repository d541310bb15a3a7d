# shellcheck shell=sh disable=SC2034,SC2086 # size is read by the tests; $IO may have words
# Built once in w/ and kept as base/: the walkthrough's scratch world from this build (the tests
# run the installed tools), another key, the trees hello (a static i386 program, two texts; $size
# bytes packed) and greet (packed, unpublished).
export VESK_IO="$IO" VESK_INDEX="$INDEX" VESK_NOW=2000 VESK_LOCK_WAIT=1
. "$VESK_SOURCE_DIR/tools/scratch.sh"
scratch_init "$TEST_TMP/w" "$VESK_BINARY_DIR" && cd "$TEST_TMP/w" || exit
doc=hello/data/usr/share/doc/hello shell=sh
vesk() { (umask 077 && $shell "$scratch/prefix/sbin/vesk" "$@"); }
package() { # NAME VERSION DEPENDS TREE; the .desc ends without a line feed
  file=$(printf '%s\n' "name=$1" "version=$2" "rank=$2" description=d upstream=https://e.org \
    date=9 "depends=$3" | head -c -1 | scratch_pack "$4")
}
publish() { scratch_publish "$1" && truncate -s 4096 repo/*.sig; } # SERIAL; .sig at its bound
hello() { # VERSION DEPENDS EXTRA [SERIAL]: NEWS holds VERSION; published as SERIAL (VERSION)
  rm -f "$doc"/* && echo "$1" > "$doc/NEWS" && echo x > "$doc/$3" &&
    package hello "$1" "$2" hello && publish "${4:-$1}"
}
fresh() { cd "$TEST_TMP" && rm -rf w && cp -a base w && cd w || exit; }
state() { # records, files, modes, leftovers; complains where the owned list errs
  (cd root && $IO owned var/lib/vesk/owned
    [ "$(find usr -type f | sort)" = "$(cut -f7 var/lib/vesk/owned | grep -v ^etc/)" ] ||
      echo owned list differs from the tree
    VESK_ROOT=. vesk verify
    find . -name '*.vesk-tmp' -o -name lock -o -name pending -o -name work -o -type d ! -perm 755
    (cd var/lib/vesk && echo *.owned *.row "$(cat serial)")
    find usr -type f -printf '%P:%m\n' | sort | xargs)
}

ssh-keygen -q -t ed25519 -N '' -f other.key
mkdir -p greet/data/usr/local/share/greet $doc hello/data/usr/bin
echo format=2 > hello/meta && echo format=1 > greet/meta
echo g > greet/data/usr/local/share/greet/README
printf 'void _start(void){for(;;);}' | cc -m32 -static -nostdlib -x c - -o hello/data/usr/bin/hello
hello 1 - OLD && size=$(wc -c < "repo/$file") && vesk update > /dev/null
package greet 1 - greet
cp -a . ../base
