#!/bin/sh
# The repository tools: a package packed and published.
# shellcheck disable=SC2016,SC2034 # expect runs the quoted cases
. "$VESK_SOURCE_DIR/tests/support/lib.sh"
cd "$TEST_TMP" || exit 1
export VESK_IO="$IO" VESK_INDEX="$INDEX" VESK_NOW=2000
tools=$VESK_SOURCE_DIR/manager abi=$(echo abi | sha256sum | cut -c1-64)
mkdir -p tree/data/usr/share repo && echo format=2 > tree/meta
echo text > tree/data/usr/share/doc
ssh-keygen -q -t ed25519 -N '' -f root.key
ssh-keygen -q -t ed25519 -N '' -f signer.key

expect 'the usage line names the tool' 'sh "$tools/vesk-pack"; sh "$tools/vesk-publish" 1' <<'EOF'
usage: vesk-pack TREE OUTDIR
usage: vesk-publish REPO ABI EPOCH SERIAL NOT_BEFORE NOT_AFTER ROOT_KEY SIGNER_KEY DIR
[status 2]
EOF

expect 'a last .desc line without a line feed counts' '
archive=$(sh "$tools/vesk-pack" tree repo)
desc=repo/${archive%.vesk}.desc
printf "name=doc\nversion=1\nrank=1\ndescription=d\nupstream=https://e.org\ndate=9\n" > "$desc"
printf depends=b=1 >> "$desc"
sh "$tools/vesk-publish" core "$abi" 1 1 1000 9999 root.key signer.key repo
sed 1d repo/index | cut -f1,8' <<'EOF'
doc	b=1
EOF
finish
