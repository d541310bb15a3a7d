#!/bin/sh
# Installs one package from a repository into a target root, the way a
# package manager drives vesk-index and vesk-io: every step either holds or
# stops the run with "refused at STEP: MESSAGE" on standard error and exit
# status 1. Run it as root.
#
# usage: install.sh [-n NOW] [-r REPOSITORY_ID] [-a ABI_DIGEST] REPOSITORY NAME ROOT
#
#   REPOSITORY  directory holding "delegation", "index" and the package files
#               named by the index (DIGEST.vesk)
#   NAME        package name; the row of the highest rank is installed
#   ROOT        target root directory (owned by root, not writable by others)
#   -n NOW      the time to verify the repository at (default: the clock)
#   -r, -a      the repository identity and the ABI digest this system
#               follows; a package manager pins these in its own settings,
#               never takes them from the repository it verifies
#
# VESK_IO and VESK_INDEX name the programs (default: vesk-io and vesk-index
# from PATH); give absolute paths. Their words are split at spaces, so an
# emulator may stand in front.
#
# What this example leaves out and a package manager must add: verifying the
# signatures of the delegation and the index with the signer key, resolving
# dependencies, removing the files of an older version, recording the
# installed files in the owned-file manifest, and undoing a half-finished
# install.
set -eu
set -f

VESK_IO=${VESK_IO:-vesk-io}
VESK_INDEX=${VESK_INDEX:-vesk-index}
now=
repository_id=core
abi=74a4aa28d1cf9901d2d82f018cfe57f608d6c43905af89734b0f6ba7f76bf387
tab=$(printf '\t')

usage() {
  echo "usage: install.sh [-n NOW] [-r REPOSITORY_ID] [-a ABI_DIGEST] REPOSITORY NAME ROOT" >&2
  exit 2
}

report() {
  printf '%s: %s\n' "$1" "$2"
}

refuse() {
  printf 'refused at %s: %s\n' "$1" "$2" >&2
  exit 1
}

# Runs one program as a check: any exit status but 0 refuses the step with
# the program's message.
check() {
  step=$1
  shift
  message=$("$@" 2>&1 >/dev/null) || refuse "$step" "${message:-failed without a message}"
}

sha256_of() {
  set -- $(sha256sum < "$1")
  echo "$1"
}

absolute() {
  case $1 in
    /*) echo "$1" ;;
    *) echo "$PWD/$1" ;;
  esac
}

while getopts n:r:a: option; do
  case $option in
    n) now=$OPTARG ;;
    r) repository_id=$OPTARG ;;
    a) abi=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 3 ] || usage
repository=$(absolute "$1")
name=$2
root=$(absolute "$3")
[ -n "$now" ] || now=$(date +%s)

# Everything is read from private copies, so the files checked are the files
# used.
work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
stage=$work/stage
mkdir -m 0755 "$stage"

# 1. The repository: the delegation and the index hold at NOW for the pinned
# repository and ABI.
cp "$repository/delegation" "$work/delegation" 2>/dev/null || refuse index "no delegation file"
cp "$repository/index" "$work/index" 2>/dev/null || refuse index "no index file"
delegation_digest=$(sha256_of "$work/delegation")
check index $VESK_INDEX index "$now" "$repository_id" "$abi" "$delegation_digest" \
  "$work/delegation" "$work/index"
report index "repository $repository_id holds at $now"

# 2. The package row: by name, the highest rank.
row=$(awk -F "$tab" -v name="$name" \
  'NR > 1 && $1 == name && $3 + 0 > best { best = $3 + 0; row = $0 } END { print row }' \
  "$work/index")
[ -n "$row" ] || refuse select "no package $name in the index"
IFS=$tab read -r row_name row_version row_rank row_digest row_size row_file rest <<EOF
$row
EOF
report select "$row_name $row_version (rank $row_rank)"

# 3. The package file: the size and the SHA-256 digest that the row names.
# Its name is the row's digest and ".vesk" (vesk-index checked that), so it
# cannot point outside the repository.
package=$work/package.vesk
cp "$repository/$row_file" "$package" 2>/dev/null || refuse fetch "no file $row_file in the repository"
[ $(wc -c < "$package") -eq "$row_size" ] || refuse "package size" "size differs from the index row"
[ "$(sha256_of "$package")" = "$row_digest" ] || refuse "package digest" "SHA-256 differs from the index row"
report package "$row_file matches its index row"

# 4. Unpack into the fresh stage directory (root-owned, mode 0755).
unpack_into_stage() {
  cd "$stage" && $VESK_IO unpack < "$package"
}
check unpack unpack_into_stage
report unpack "stage holds meta, files and data/"

# 5. The manifest, under the format that the first line of meta selects.
if IFS= read -r first_line < "$stage/meta" && [ "$first_line" = format=2 ]; then
  format=2 suffix=2
else
  format=1 suffix=
fi
check manifest $VESK_IO "manifest$suffix" "$stage/files"
report manifest "format $format"

# 6. Every payload file against its manifest digest.
while IFS=$tab read -r type mode size digest path; do
  [ "$(sha256_of "$stage/data/$path")" = "$digest" ] || refuse "payload digest" "$path differs from the manifest"
done < "$stage/files"
report "payload digest" "every file matches the manifest"

# 7. Every executable against the target root.
while IFS=$tab read -r type mode size digest path; do
  [ "$mode" = 0755 ] || continue
  check elf $VESK_IO "elf$suffix" "$stage/data/$path" "$root"
  report elf "$path"
done < "$stage/files"

# 8. Every install path, all of them before anything is created.
while IFS=$tab read -r type mode size digest path; do
  check parents $VESK_IO "parents$suffix" "$root" "$path"
done < "$stage/files"
report parents "every install path is free or a plain file"

# 9. The missing directories.
while IFS=$tab read -r type mode size digest path; do
  check prepare $VESK_IO "prepare$suffix" "$root" "$path"
done < "$stage/files"
report prepare "every parent directory exists"

# 10. Into place: a copy beside the target under the temporary suffix that no
# package may use, then a rename over the target.
while IFS=$tab read -r type mode size digest path; do
  temporary=$root/$path.vesk-tmp
  if [ -e "$temporary" ] || [ -L "$temporary" ]; then
    refuse install "$path.vesk-tmp is in the way"
  fi
  cp "$stage/data/$path" "$temporary" && chmod "$mode" "$temporary" &&
    mv -f "$temporary" "$root/$path" || refuse install "$path could not be moved into place"
  report install "$path"
done < "$stage/files"

# 11. What is installed now, as the owned-file manifest would record it.
while IFS=$tab read -r type mode size digest path; do
  observed=$($VESK_IO observe "$root" "$path" 2>&1) || refuse observe "$observed"
  IFS=$tab read -r o_type o_mode o_owner o_group o_size o_link <<EOF
$observed
EOF
  [ "$o_type $o_mode $o_size" = "f $mode $size" ] || refuse observe "$path is not what was installed"
  report observe "$path: $o_type $o_mode $o_owner $o_group $o_size"
done < "$stage/files"

report done "$row_name $row_version installed into $root"
