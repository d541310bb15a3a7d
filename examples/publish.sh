#!/bin/sh
# Publishes a directory of package archives as a repository: writes its
# delegation and index, checks both with vesk-index, signs them and puts the
# four files in place beside the archives.
#
# usage: publish.sh REPO ABI EPOCH SERIAL NOT_BEFORE NOT_AFTER ROOT_KEY SIGNER_KEY DIR
#
#   REPO, ABI      repository identity and ABI digest (64 hex digits)
#   EPOCH, SERIAL  raise the serial at every publication; raise the epoch (and
#                  start the serial again) only when the signer key changes
#   NOT_BEFORE, NOT_AFTER  the delegation's window, Unix seconds
#   ROOT_KEY       ssh-ed25519 private key that signs the delegation (keep it
#                  offline; systems pin its public half)
#   SIGNER_KEY     ssh-ed25519 private key that signs the index; the
#                  delegation names its public half
#   DIR            holds DIGEST.vesk (from pack.sh) and beside each one
#                  DIGEST.desc, lines of KEY=VALUE: name, version, rank,
#                  depends ("-" or NAME=VERSION entries separated by one
#                  space), description, upstream (https://...), date
#
# VESK_INDEX names vesk-index (default: from PATH); VESK_NOW is the
# generation time in Unix seconds (default: the clock).
#
# Choices:
# - The delegation lists exactly the names of the archives in DIR.
# - The index expires 7 days after NOW (the most vesk-index accepts) or at
#   NOT_AFTER if that is sooner: republish at least weekly.
# - Signatures: ssh-keygen -Y sign, namespace "vesk", written as
#   delegation.sig and index.sig. Both files are checked at NOW before
#   anything is written to DIR; the four are then renamed into place, so a
#   reader in between sees a signature that does not match and retries.
set -eu
[ $# -eq 9 ] || { echo "usage: publish.sh REPO ABI EPOCH SERIAL NOT_BEFORE NOT_AFTER ROOT_KEY SIGNER_KEY DIR" >&2; exit 2; }
repo=$1 abi=$2 epoch=$3 serial=$4 not_before=$5 not_after=$6 root_key=$7 signer_key=$8 dir=$9
# shellcheck disable=SC2086
index_tool() { ${VESK_INDEX:-vesk-index} "$@"; }
now=${VESK_NOW:-$(date +%s)}
fail() { echo "publish.sh: $1" >&2; exit 1; }
tmp=$(mktemp -d "$dir/.publish.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

for archive in "$dir"/*.vesk; do
  [ -f "$archive" ] || fail "no archive in $dir"
  sum=$(sha256sum < "$archive")
  file=${sum%% *}.vesk
  [ "$file" = "${archive##*/}" ] || fail "${archive##*/} is not named after its SHA-256"
  name='' version='' rank='' depends=- description='' upstream='' date=''
  # shellcheck disable=SC2034 # value is read by eval
  while IFS='=' read -r key value; do
    case $key in
      name | version | rank | depends | description | upstream | date) eval "$key=\$value" ;;
      *) fail "${archive%.vesk}.desc: unknown key $key" ;;
    esac
  done < "${archive%.vesk}.desc"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t0.1\t%s\ti586\tmusl\t%s\tpentium-mmx-audited\t%s\t%s\t%s\n' \
    "$name" "$version" "$rank" "${sum%% *}" "$(wc -c < "$archive")" "$file" "$depends" "$abi" \
    "$description" "$upstream" "$date"
done | LC_ALL=C sort > "$tmp/rows"

pub=$(ssh-keygen -y -f "$signer_key")
pub=${pub#ssh-ed25519 }
{
  printf 'VESK-DELEGATION\t1\t%s\t%s\t%s\t%s\t%s\ti586\tmusl\tpentium-mmx-audited\n' \
    "$repo" "$epoch" "$not_before" "$not_after" "$abi"
  printf 'signer\tssh-ed25519\t%s\n' "${pub%% *}"
  cut -f1 "$tmp/rows" | uniq | while IFS= read -r name; do printf 'package\t%s\n' "$name"; done
} > "$tmp/delegation"
expiry=$((now + 604800))
[ "$expiry" -le "$not_after" ] || expiry=$not_after
sum=$(sha256sum < "$tmp/delegation")
{
  printf 'VESK-INDEX\t2\t%s\t%s\t%s\t0.1\t%s\t%s\t%s\t%s\n' \
    "$repo" "$serial" "$abi" "$now" "$expiry" "$epoch" "${sum%% *}"
  cat "$tmp/rows"
} > "$tmp/index"
message=$(index_tool delegation "$now" "$tmp/delegation" 2>&1) || fail "$message"
message=$(index_tool index "$now" "$repo" "$abi" "${sum%% *}" "$tmp/delegation" "$tmp/index" 2>&1) ||
  fail "$message"

ssh-keygen -q -Y sign -f "$root_key" -n vesk "$tmp/delegation" || fail "delegation not signed"
ssh-keygen -q -Y sign -f "$signer_key" -n vesk "$tmp/index" || fail "index not signed"
for f in delegation delegation.sig index index.sig; do mv "$tmp/$f" "$dir/$f"; done
