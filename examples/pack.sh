#!/bin/sh
# Packs a package tree into the archive that vesk-io unpacks, as a repository
# maintainer does before publish.sh. Run as root (the check unpacks into a
# stage directory owned by root).
#
# usage: pack.sh TREE OUTDIR
#
#   TREE    holds "meta" (first line "format=2" for package format 2; the
#           lines after it are free text for people, vesk reads only the
#           first) and "data/", the files as they are installed
#   OUTDIR  where DIGEST.vesk is written; its name is printed
#
# VESK_IO names vesk-io (default: vesk-io from PATH; the words are split, so
# an emulator may stand in front).
#
# Choices:
# - The manifest "TREE/files" is written from data/: every non-directory in
#   byte order of its path, mode 0755 when the owner may execute it, else
#   0644. meta and files are set to mode 0644; data/ is left as it is.
# - The archive is GNU tar ustar with owner and group 0, no names, mtime 0,
#   members in manifest order, no directory members and 512-byte records:
#   the same tree gives the same bytes on any machine.
# - Nothing is fixed up: the archive is checked with vesk-io manifest (or
#   manifest2) and by unpacking it, so a symbolic link or special file, a
#   mode other than 0644/0755, or a path the format does not allow is refused
#   with vesk-io's own message, and no archive is left.
set -eu
[ $# -eq 2 ] || { echo "usage: pack.sh TREE OUTDIR" >&2; exit 2; }
# shellcheck disable=SC2086
io() { ${VESK_IO:-vesk-io} "$@"; }
out=$(cd "$2" && pwd)
cd "$1"
umask 022
tab=$(printf '\t')
fail() { echo "pack.sh: $1" >&2; exit 1; }

format=
[ "$(head -n 1 meta)" = format=2 ] && format=2
tar -C data -cf - . | tar -tf - | LC_ALL=C sort > files.list
while IFS= read -r path; do
  case $path in */) continue ;; esac
  path=${path#./}
  mode=0644
  [ -x "data/$path" ] && mode=0755
  if [ -f "data/$path" ] && [ ! -L "data/$path" ]; then
    size=$(wc -c < "data/$path")
    sum=$(sha256sum < "data/$path")
  else
    size=0 sum=$(: | sha256sum) # refused below, as the archive holds no regular file
  fi
  printf 'f\t%s\t%s\t%s\t%s\n' "$mode" "$size" "${sum%% *}" "$path"
done < files.list > files
rm files.list
chmod 0644 meta files
message=$(io "manifest$format" files 2>&1) || fail "$message"

tmp=$(mktemp -d "$out/.pack.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
{ echo meta; echo files; cut -f5 files | while IFS= read -r p; do echo "data/$p"; done; } |
  tar --format=ustar --owner=0 --group=0 --numeric-owner --no-recursion --hard-dereference -b1 \
    --mtime=@0 -cf "$tmp/archive" -T -
mkdir -m 0755 "$tmp/stage"
message=$(cd "$tmp/stage" && io unpack < "$tmp/archive" 2>&1) || fail "$message"
while IFS=$tab read -r _ _ _ sum path; do
  [ "$(sha256sum < "$tmp/stage/data/$path")" = "$sum  -" ] || fail "$path changed while packing"
done < files
sum=$(sha256sum < "$tmp/archive")
mv "$tmp/archive" "$out/${sum%% *}.vesk"
echo "${sum%% *}.vesk"
