#!/bin/sh
# Sets up the i386 musl sysroot the target build compiles and links
# against, and the emulator runs the dynamic programs in:
#
#   sh tools/target-sysroot.sh [SYSROOT]     (default: build/sysroot-i386)
#
# The i386 musl packages cannot be installed beside the host toolchain, so
# they are fetched with apt-get download and unpacked into SYSROOT. A gcc
# specs file derived from the one musl-dev ships points the host gcc (in
# -m32 mode) at that tree. Runs again in no time once the tree is complete;
# as root it first installs what the cross build and the emulator need.
set -eu
cd "$(dirname "$0")/.."

sysroot=${1:-build/sysroot-i386}
mkdir -p "$sysroot"
sysroot=$(cd "$sysroot" && pwd)
libdir=$sysroot/usr/lib/i386-linux-musl
specs=$sysroot/musl-gcc.specs
stamp=$sysroot/.complete
layout=2  # raise when the tree below changes shape
host_packages="gcc-multilib g++-multilib qemu-user binutils clang libclang-rt-dev"
musl_packages="musl:i386 musl-dev:i386"

# apt-get download needs the i386 package lists; adding the architecture
# changes nothing installed.
enable_i386_lists() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -q
  elif ! apt-cache show musl-dev:i386 >/dev/null 2>&1; then
    apt-get update -q
  fi
}

unpack_musl() {
  downloads=$sysroot/.debs
  rm -rf "$downloads"
  mkdir -p "$downloads"
  # As root, apt would hand the download to its own user, who cannot write here.
  # shellcheck disable=SC2086
  (cd "$downloads" && apt-get download -q -o APT::Sandbox::User="$(id -un)" $musl_packages)
  for deb in "$downloads"/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
  rm -rf "$downloads"
}

# The emulator looks for the loader at SYSROOT/lib/ld-musl-i386.so.1 (the
# package links it to i386-linux-musl/libc.so). The linker needs libc.so
# beside libc.a, or a dynamic link would take the archive.
link_libc() {
  [ -f "$sysroot/lib/i386-linux-musl/libc.so" ] || { echo "musl:i386 has no libc.so" >&2; exit 1; }
  ln -sfn i386-linux-musl/libc.so "$sysroot/lib/ld-musl-i386.so.1"
  ln -sfn i386-linux-musl/libc.so "$sysroot/lib/libc.so"
  ln -sfn ../../../lib/i386-linux-musl/libc.so "$sysroot/usr/lib/i386-linux-musl/libc.so"
}

# Debian builds the 32-bit libgcc, libssp_nonshared and crtbegin/crtend
# for a P6 with CET: every function starts with endbr32, which a Pentium MMX
# cannot decode. The programs take their 64-bit arithmetic from LLVM's
# builtins library instead (plain i386 code), get __stack_chk_fail_local
# from a build of their own, and need no crtbegin/crtend: musl's start
# files run .init_array themselves.
add_compiler_runtime() {
  builtins=$(clang -m32 --rtlib=compiler-rt -print-libgcc-file-name)
  [ -f "$builtins" ] || { echo "no i386 compiler-rt builtins (libclang-rt-dev)" >&2; exit 1; }
  cp "$builtins" "$libdir/libclang_rt.builtins-i386.a"
  cat >"$sysroot/.ssp.c" <<'SOURCE'
void __stack_chk_fail(void);
__attribute__((visibility("hidden"))) void __stack_chk_fail_local(void) { __stack_chk_fail(); }
SOURCE
  gcc -m32 -march=pentium-mmx -O2 -fPIC -fno-stack-protector -fcf-protection=none \
      -ffreestanding -c -o "$sysroot/.ssp.o" "$sysroot/.ssp.c"
  rm -f "$libdir/libssp_nonshared.a"
  ar rcs "$libdir/libssp_nonshared.a" "$sysroot/.ssp.o"
  rm -f "$sysroot/.ssp.c" "$sysroot/.ssp.o"
}

# The shipped specs name the installed paths /usr/include/i386-linux-musl
# and /usr/lib/i386-linux-musl: point them into the sysroot. Its headers go
# after any -isystem, so that the C++ headers a C++ build names there come
# first and reach musl's with #include_next. Its link line replaces gcc's,
# which loses the -m32 emulation. Its start files are the position-
# independent ones whatever the link: a static link gets the plain ones.
write_specs() {
  shipped=$libdir/musl-gcc.specs
  [ -f "$shipped" ] || { echo "musl-dev:i386 has no musl-gcc.specs" >&2; exit 1; }
  sed -e "s|-isystem /usr/include/i386-linux-musl -isystem include%s|-idirafter $sysroot/usr/include/i386-linux-musl -idirafter include%s|g" \
      -e "s|/usr/lib/i386-linux-musl|$libdir|g" \
      -e "s|^-dynamic-linker |-m elf_i386 -dynamic-linker |" \
      -e "/^\*startfile:/{n;s|.*|%{!shared:%{static:$libdir/crt1.o;:$libdir/Scrt1.o}} $libdir/crti.o|}" \
      -e "/^\*endfile:/{n;s|.*|$libdir/crtn.o|}" \
      -e "/^\*libgcc:/{n;s|.*|%{!static:$libdir/libssp_nonshared.a} $libdir/libclang_rt.builtins-i386.a|}" \
      "$shipped" >"$specs.new"
  for expected in "-m elf_i386" "-idirafter $sysroot/usr/include" "static:$libdir/crt1.o" \
                  "$libdir/crtn.o" "builtins-i386.a"; do
    grep -qF -- "$expected" "$specs.new" || { echo "musl-gcc.specs changed shape: $expected" >&2; exit 1; }
  done
  for unwanted in crtbegin crtend libgcc.a " /usr/"; do
    ! grep -qF -- "$unwanted" "$specs.new" || { echo "musl-gcc.specs changed shape: $unwanted" >&2; exit 1; }
  done
  if cmp -s "$specs.new" "$specs"; then rm -f "$specs.new"; else mv "$specs.new" "$specs"; fi
}

# shellcheck disable=SC2086
sh tools/install-packages.sh $host_packages
if [ "$(cat "$stamp" 2>/dev/null)" != "$layout" ]; then
  [ "$(id -u)" = 0 ] && enable_i386_lists
  unpack_musl
  link_libc
  add_compiler_runtime
  echo "$layout" >"$stamp"
fi
# Always: the tree may have been moved since its specs were written.
write_specs
echo "$sysroot"
