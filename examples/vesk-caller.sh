#!/bin/sh
# Installs, upgrades and removes packages in a target root the way a package
# manager drives vesk-index and vesk-io. Every step either holds or stops the
# run with "refused at STEP: REASON" on standard error and exit status 1,
# leaving the root and its owned-file manifest as they were. Run it as root.
#
# usage: vesk-caller.sh install REPOSITORY NAME | remove NAME
#
#   install  installs NAME (the row of the highest rank) and what its
#            dependencies name, dependencies first; an installed package of
#            another version is upgraded in place
#   remove   removes the files NAME installed
#
# Environment: VESK_ROOT the target root (default /); VESK_NOW the time in
# Unix seconds (default: the clock); VESK_IO, VESK_INDEX the programs
# (default: from PATH; the words are split, so an emulator may stand in
# front). The root holds what the system pins, never taken from a repository:
#   etc/vesk/allowed_signers  the repository's root key, principal vesk-root
#   etc/vesk/repository       one line: REPOSITORY_ID ABI_DIGEST
# and the caller's records in var/lib/vesk/: "owned" (the owned-file
# manifest), NAME.owned and NAME.row (each package's owned lines and index
# row), "serial" (epoch and serial of the last index accepted), "pending"
# (the run in progress).
#
# Choices:
# - REPOSITORY is a directory (delegation, delegation.sig, index, index.sig,
#   DIGEST.vesk); everything is copied to a private directory first, so the
#   files checked are the files used. Signatures: ssh-keygen -Y verify,
#   namespace "vesk".
# - An index of a lower epoch, or of the same epoch and a lower serial, than
#   the one last accepted is refused; the same serial is accepted again.
# - A dependency NAME=VERSION needs the row of that name and exactly that
#   version; two versions of one name in one run are refused.
# - The owned list holds the two pinned files (role config) and every file a
#   package installed (role software). A package file never replaces a file
#   the package does not own, nor a file that changed since it was installed;
#   remove refuses, and touches nothing, when a file of NAME changed or an
#   installed package depends on NAME. Directories are made by prepare and
#   never removed: the owned list records files only.
# - Each package is one transaction: new files are copied beside their
#   targets as PATH.vesk-tmp, the new owned list is checked and written to
#   pending/all (the commit), then the files are renamed into place, the
#   files the old version owned and the new one does not ship are removed,
#   and the owned list is replaced. A run stopped before the commit is
#   rolled back (at exit, or by the next run), one stopped after it is
#   finished by the next run; either way the run says so. There is no lock:
#   run one at a time.
set -eu
umask 022
export LC_ALL=C
# shellcheck disable=SC2086
io() { ${VESK_IO:-vesk-io} "$@"; }
# shellcheck disable=SC2086
index_tool() { ${VESK_INDEX:-vesk-index} "$@"; }
usage() { echo "usage: vesk-caller.sh install REPOSITORY NAME | remove NAME" >&2; exit 2; }
tab=$(printf '\t')
root=$(cd "${VESK_ROOT:-/}" && pwd)
db=$root/var/lib/vesk p=$root/var/lib/vesk/pending conf=$root/etc/vesk
refuse() { printf 'refused at %s: %s\n' "$1" "$2" >&2; exit 1; }
check() { # STEP COMMAND...: the program's message refuses the step
  step=$1
  shift
  message=$("$@" 2>&1 >/dev/null) || refuse "$step" "$message"
}
owned_line() { # PATH ROLE [FILE]: the owned line of ROOT/FILE (default PATH), recorded as PATH
  o=$(io observe "$root" "${3:-$1}" 2>/dev/null) && sum=$(sha256sum < "$root/${3:-$1}") &&
    printf '%s\t%s\t%s\t%s\t-\n' "${o%"$tab"-}" "${sum%% *}" "$1" "$2"
}
owned_paths() { # NAME: the paths NAME owns now, in byte order (none when not installed)
  [ ! -f "$db/$1.owned" ] || cut -f7 "$db/$1.owned"
}
unchanged() { # NAME STEP: every file NAME owns is as it was recorded
  [ -f "$db/$1.owned" ] || return 0
  while IFS=$tab read -r t m o g s h path role link; do
    [ "$(owned_line "$path" "$role")" = "$t$tab$m$tab$o$tab$g$tab$s$tab$h$tab$path$tab$role$tab$link" ] ||
      refuse "$2" "$path changed since it was installed"
  done < "$db/$1.owned"
}
rollback() {
  [ ! -f "$p/list" ] || while IFS= read -r path; do rm -f "$root/$path.vesk-tmp"; done < "$p/list"
  rm -rf "$p"
}
finish() {
  while IFS= read -r path; do
    if [ -f "$root/$path.vesk-tmp" ]; then mv -f "$root/$path.vesk-tmp" "$root/$path"; fi
  done < "$p/list"
  while IFS= read -r path; do rm -f "$root/$path"; done < "$p/remove"
  name=$(cat "$p/name")
  if [ -s "$p/list" ]; then
    cp "$p/owned" "$db/$name.owned" && cp "$p/row" "$db/$name.row"
  else
    rm -f "$db/$name.owned" "$db/$name.row"
  fi
  mv "$p/all" "$db/owned"
  rm -rf "$p"
}
transaction() { # NAME [STAGE FORMAT]: replaces the files of NAME by those of STAGE, or removes them
  mkdir "$p"
  echo "$1" > "$p/name"
  : > "$p/list"
  : > "$p/owned"
  [ $# -eq 1 ] || { cut -f5 "$2/files" > "$p/list" && cp "$2/row" "$p/row"; }
  [ $# -eq 1 ] || while IFS=$tab read -r _ mode _ _ path; do
    check prepare io "prepare$3" "$root" "$path"
    cp "$2/data/$path" "$root/$path.vesk-tmp"
    chmod "$mode" "$root/$path.vesk-tmp"
    owned_line "$path" software "$path.vesk-tmp" >> "$p/owned" || refuse observe "$path.vesk-tmp"
  done < "$2/files"
  owned_paths "$1" | comm -23 - "$p/list" > "$p/remove"
  {
    owned_line etc/vesk/allowed_signers config || refuse owned "no etc/vesk/allowed_signers"
    owned_line etc/vesk/repository config || refuse owned "no etc/vesk/repository"
    for f in "$db"/*.owned; do [ "$f" = "$db/$1.owned" ] || [ ! -f "$f" ] || cat "$f"; done
    cat "$p/owned"
  } > "$p/unsorted"
  sort -t "$tab" -k7,7 "$p/unsorted" > "$p/all.tmp"
  check owned io owned "$p/all.tmp"
  mv "$p/all.tmp" "$p/all"
  finish
}

mkdir -p "$db"
if [ -f "$p/all" ]; then
  finish
  echo "finished the files of an interrupted run"
elif [ -d "$p" ]; then
  rollback
  echo "removed the temporary files of an interrupted run"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"; [ ! -d "$p" ] || [ -f "$p/all" ] || rollback' EXIT
trap 'exit 1' HUP INT TERM

if [ $# -eq 2 ] && [ "$1" = remove ]; then
  [ -f "$db/$2.owned" ] || refuse remove "$2 is not installed"
  for f in "$db"/*.row; do
    [ ! -f "$f" ] || case " $(cut -f8 "$f") " in *" $2="*) refuse remove "$(basename "$f" .row) needs $2" ;; esac
  done
  unchanged "$2" remove
  transaction "$2"
  echo "removed $2"
  exit 0
fi
if [ $# -ne 3 ] || [ "$1" != install ]; then usage; fi

# 1. Signatures, then the delegation and the index at NOW for the pinned
# repository and ABI digest.
for f in delegation delegation.sig index index.sig; do
  cp "$2/$f" "$work/$f" 2>/dev/null || refuse fetch "no $f in $2"
done
ssh-keygen -Y verify -f "$conf/allowed_signers" -I vesk-root -n vesk -s "$work/delegation.sig" \
  < "$work/delegation" > /dev/null 2>&1 || refuse "delegation signature" "not signed by the pinned root key"
printf 'vesk-signer ssh-ed25519 %s\n' "$(head -n 2 "$work/delegation" | tail -n 1 | cut -f3)" > "$work/signer"
ssh-keygen -Y verify -f "$work/signer" -I vesk-signer -n vesk -s "$work/index.sig" \
  < "$work/index" > /dev/null 2>&1 || refuse "index signature" "not signed by the delegation's signer"
read -r repository abi < "$conf/repository"
sum=$(sha256sum < "$work/delegation")
check index index_tool index "${VESK_NOW:-$(date +%s)}" "$repository" "$abi" "${sum%% *}" \
  "$work/delegation" "$work/index"
serial=$(head -n 1 "$work/index" | cut -f4) epoch=$(head -n 1 "$work/index" | cut -f9)
if [ -f "$db/serial" ]; then
  read -r last_epoch last_serial < "$db/serial"
  if [ "$epoch" -lt "$last_epoch" ] || { [ "$epoch" -eq "$last_epoch" ] && [ "$serial" -lt "$last_serial" ]; }; then
    refuse index "epoch $epoch serial $serial is older than epoch $last_epoch serial $last_serial"
  fi
fi

# 2. Dependencies: every name resolved in the same index, in an order where
# dependencies come first.
select_row() { # NAME [VERSION]: the row of the highest rank
  tail -n +2 "$work/index" | sort -t "$tab" -k3,3nr | while IFS=$tab read -r n v rest; do
    if [ "$n" = "$1" ] && [ "${2:-$v}" = "$v" ]; then printf '%s\t%s\t%s\n' "$n" "$v" "$rest" && break; fi
  done
}
todo="$3=" && : > "$work/edges"
while [ -n "$todo" ]; do
  todo=${todo# } && item=${todo%% *} && todo=${todo#"$item"}
  n=${item%%=*} v=${item#*=}
  if [ -f "$work/$n.row" ]; then
    [ -z "$v" ] || [ "$(cut -f2 "$work/$n.row")" = "$v" ] || refuse resolve "two versions of $n"
    continue
  fi
  select_row "$n" "$v" > "$work/$n.row"
  [ -s "$work/$n.row" ] || refuse resolve "no $n${v:+ version $v} in the index"
  echo "$n $n" >> "$work/edges"
  deps=$(cut -f8 "$work/$n.row")
  [ "$deps" = - ] && continue
  # shellcheck disable=SC2086 # entries are separated by single spaces
  for d in $deps; do echo "${d%%=*} $n" >> "$work/edges" && todo="$todo $d"; done
done
tsort "$work/edges" > "$work/order" 2>/dev/null || refuse resolve "dependency cycle"

# 3. Every package: the archive against its row, unpacked, its manifest and
# payload, its executables and install paths, before anything is installed.
while IFS= read -r n; do
  IFS=$tab read -r _ version _ digest size file _ < "$work/$n.row"
  if [ -f "$db/$n.row" ] && [ "$(cut -f4 "$db/$n.row")" = "$digest" ]; then
    echo "$n $version is installed" && continue
  fi
  stage=$work/$n.stage
  mkdir -m 0755 "$stage"
  cp "$work/$n.row" "$stage/row"
  cp "$2/$file" "$work/$n.vesk" 2>/dev/null || refuse fetch "no $file in $2"
  [ "$(wc -c < "$work/$n.vesk")" -eq "$size" ] || refuse package "$n: size differs from the index"
  [ "$(sha256sum < "$work/$n.vesk")" = "$digest  -" ] || refuse package "$n: SHA-256 differs from the index"
  (cd "$stage" && check unpack io unpack < "$work/$n.vesk")
  format=
  [ "$(head -n 1 "$stage/meta")" = format=2 ] && format=2
  check manifest io "manifest$format" "$stage/files"
  owned_paths "$n" > "$work/$n.old"
  while IFS=$tab read -r _ mode _ sum path; do
    [ "$(sha256sum < "$stage/data/$path")" = "$sum  -" ] || refuse payload "$path differs from the manifest"
    [ "$mode" = 0644 ] || check elf io "elf$format" "$stage/data/$path" "$root"
    check parents io "parents$format" "$root" "$path"
    if [ -e "$root/$path.vesk-tmp" ] || [ -L "$root/$path.vesk-tmp" ]; then
      refuse install "$path.vesk-tmp is in the way"
    fi
    if { [ -e "$root/$path" ] || [ -L "$root/$path" ]; } && ! echo "$path" | comm -12 - "$work/$n.old" | read -r _; then
      refuse install "$path is not $n's"
    fi
  done < "$stage/files"
  unchanged "$n" install
  echo "$format" > "$stage/format"
done < "$work/order"

# 4. Into place, one transaction per package, dependencies first.
while IFS= read -r n; do
  [ -d "$work/$n.stage" ] || continue
  transaction "$n" "$work/$n.stage" "$(cat "$work/$n.stage/format")"
  echo "installed $n $(cut -f2 "$db/$n.row")"
done < "$work/order"
echo "$epoch $serial" > "$db/serial.tmp" && mv "$db/serial.tmp" "$db/serial"
