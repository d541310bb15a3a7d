# shellcheck shell=sh disable=SC2034,SC2086 # size is read by the tests; $IO may have words
# Built once: this build installed in usr/, keys, a root pinning the repository, the trees hello
# (a static i386 program, two texts; $size bytes packed) and greet (packed, unpublished).
usr=$TEST_TMP/usr
cmake --install "$VESK_BINARY_DIR" --prefix "$usr" > /dev/null || exit
export PATH="$usr/sbin:$usr/bin:$PATH" VESK_IO="$IO" VESK_INDEX="$INDEX" VESK_NOW=2000 \
  VESK_ROOT=root VESK_LOCK_WAIT=1
abi=$(printf %064d 0) doc=hello/data/usr/share/doc/hello shell=sh
vesk() { (umask 077 && $shell "$usr/sbin/vesk" "$@"); }
package() { # NAME VERSION DEPENDS TREE; the .desc ends without a line feed
  file=$(vesk-pack "$4" repo) && printf '%s\n' "name=$1" "version=$2" "rank=$2" description=d \
    upstream=https://e.org date=9 "depends=$3" | head -c -1 > "repo/${file%.*}.desc"
}
publish() { # SERIAL; the signatures padded to their bound
  vesk-publish core "$abi" 1 "$1" 1000 9999 root.key signer.key repo && truncate -s 4096 repo/*.sig
}
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

mkdir -p "$TEST_TMP/base" && cd "$TEST_TMP/base" || exit
mkdir -p root/etc/vesk repo greet/data/usr/local/share/greet $doc hello/data/usr/bin
for key in root signer other; do ssh-keygen -q -t ed25519 -N '' -f $key.key; done
echo "vesk-root $(cat root.key.pub)" > root/etc/vesk/allowed_signers
echo "core $abi" > root/etc/vesk/repository && echo ../repo > root/etc/vesk/mirrors
echo format=2 > hello/meta && echo format=1 > greet/meta
echo g > greet/data/usr/local/share/greet/README
printf 'void _start(void){for(;;);}' | cc -m32 -static -nostdlib -x c - -o hello/data/usr/bin/hello
hello 1 - OLD && size=$(wc -c < "repo/$file") && vesk update > /dev/null
package greet 1 - greet
