# shellcheck shell=sh
# A scratch world for vesk, sourced by the walkthrough (tools/example.sh), the
# fuzzing seeds (tools/fuzz.sh) and the package manager's tests, as root:
# the host build installed under a prefix, a repository "core" with
# throwaway keys, and a target root that pins it.
#
#   scratch_init DIR [BUILD]  installs vesk under DIR/prefix (put first on
#                       PATH) from the build directory BUILD, by default the
#                       host programs built here; writes DIR/root.key,
#                       DIR/signer.key and the target root DIR/root (exported
#                       as VESK_ROOT) with etc/vesk/allowed_signers and
#                       etc/vesk/repository, and etc/vesk/mirrors naming
#                       DIR/repo, its only mirror; makes DIR/repo; sets $abi and
#                       exports VESK_NOW (the clock, unless already set)
#   scratch_pack TREE   packs TREE into DIR/repo with its description read
#                       from standard input; prints the archive's name
#   scratch_publish SERIAL  publishes DIR/repo, valid for a year from NOW
#
# vesk-publish runs through `run`, which a caller may redefine (the
# walkthrough prints the command first).
run() { "$@"; }

scratch_init() {
  scratch=$1
  if [ -z "${2:-}" ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target vesk-io vesk-index >/dev/null
  fi
  cmake --install "${2:-build/default}" --prefix "$scratch/prefix" >/dev/null
  PATH=$scratch/prefix/bin:$scratch/prefix/sbin:$PATH
  VESK_ROOT=$scratch/root VESK_NOW=${VESK_NOW:-$(date +%s)}
  export PATH VESK_ROOT VESK_NOW
  abi=$(printf 'i586 musl pentium-mmx-audited\n' | sha256sum | cut -c1-64)
  ssh-keygen -q -t ed25519 -N '' -C vesk-root -f "$scratch/root.key"
  ssh-keygen -q -t ed25519 -N '' -C vesk-signer -f "$scratch/signer.key"
  mkdir -p "$VESK_ROOT/etc/vesk" "$scratch/repo"
  printf 'vesk-root %s\n' "$(cat "$scratch/root.key.pub")" > "$VESK_ROOT/etc/vesk/allowed_signers"
  echo "core $abi" > "$VESK_ROOT/etc/vesk/repository"
  echo "$scratch/repo" > "$VESK_ROOT/etc/vesk/mirrors"
}

scratch_pack() {
  archive=$(vesk-pack "$1" "$scratch/repo")
  cat > "$scratch/repo/${archive%.vesk}.desc"
  echo "$archive"
}

scratch_publish() {
  run vesk-publish core "$abi" 1 "$1" "$VESK_NOW" $((VESK_NOW + 31536000)) \
    "$scratch/root.key" "$scratch/signer.key" "$scratch/repo"
}
