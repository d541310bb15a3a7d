# shellcheck shell=sh disable=SC2086 # $IO may be an emulator and a program
# The package manager's world, sourced after support/lib.sh: keys, a root that pins the
# repository, the trees hello (a static i386 program and two texts) and greet, built once in
# $TEST_TMP/base; `fresh` starts a case in a copy of it, where the functions below pack,
# publish, run the manager (umask 077: it sets its own) and describe the root.
tools=$VESK_SOURCE_DIR/manager
pack=$tools/vesk-pack publish=$tools/vesk-publish
[ -f "$pack" ] || pack=$VESK_SOURCE_DIR/examples/pack.sh publish=$VESK_SOURCE_DIR/examples/publish.sh
export VESK_IO="$IO" VESK_INDEX="$INDEX" VESK_NOW=2000 VESK_ROOT=root
abi=$(echo abi | sha256sum | cut -c1-64) doc=hello/data/usr/share/doc/hello shell=sh
vesk() { (umask 077 && $shell "$tools/vesk" "$@"); }
package() { # NAME VERSION DEPENDS TREE: TREE packed into repo as NAME VERSION, of rank VERSION
  file=$(sh "$pack" "$4" repo) &&
    printf 'name=%s\nversion=%s\nrank=%s\ndepends=%s\ndescription=d\nupstream=https://e.org\ndate=9\n' \
      "$1" "$2" "$2" "$3" > "repo/${file%.vesk}.desc"
}
publish() { sh "$publish" core "$abi" 1 "$1" 1000 9999 root.key signer.key repo; }
hello() { # VERSION DEPENDS EXTRA: hello VERSION ships its program, NEWS (VERSION) and EXTRA
  rm -f "$doc"/* && echo "$1" > "$doc/NEWS" && echo x > "$doc/$3" && package hello "$1" "$2" hello
}
greet() { package greet 1 "$1" greet; }
fresh() { cd "$TEST_TMP" && rm -rf w && cp -a base w && cd w || exit; }
state() { # records, rollback record, files and modes, NEWS; complains where the owned list errs
  (cd root && $IO owned var/lib/vesk/owned && cut -f7 var/lib/vesk/owned | grep -v ^etc/ > ../paths
    find usr -type f | sort | cmp -s - ../paths || echo owned list differs from the tree
    awk -F '\t' '{ print $6 "  " $7 }' var/lib/vesk/owned | sha256sum -c --quiet
    find . -name '*.vesk-tmp' -o -type d ! -perm 755
    { ls var/lib/vesk && cat var/lib/vesk/serial; } | paste -sd ' '
    find usr -type f -printf '%p %m\n' | sort
    cat usr/share/doc/hello/NEWS 2> /dev/null || :)
}

cd "$TEST_TMP" && mkdir -p base/root/etc/vesk base/repo base/greet/data/usr/share/greet base/$doc base/hello/data/usr/bin
cd base || exit
for key in root signer other; do ssh-keygen -q -t ed25519 -N '' -C $key -f $key.key; done
printf 'vesk-root %s\n' "$(cat root.key.pub)" > root/etc/vesk/allowed_signers
echo "core $abi" > root/etc/vesk/repository
echo format=2 | tee hello/meta > greet/meta
echo g > greet/data/usr/share/greet/README
printf 'void _start(void){for(;;);}' | cc -m32 -static -nostdlib -x c - -o hello/data/usr/bin/hello
hello 1 - OLD && publish 1
