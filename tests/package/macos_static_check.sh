#!/usr/bin/env bash
# Static checks of the macOS build (scripts/macos-build.sh BUILD_DIR):
#
#   macos_static_check.sh BUILD_DIR
#
# 1. Every BUILD_DIR/lib/frei0r-1/NAME.so and NAME.dylib passes macho_check.py
#    (universal arm64 + x86_64, exports only f0r_*, loads only libSystem,
#    imports only from it, macOS 11 minimum, the arm64 slice's signature
#    valid page by page), and NAME.dylib is NAME.so byte for byte.
# 2. LLVM's own readers agree, slice by slice: llvm-objdump's export trie
#    and list of libraries, llvm-nm's external definitions, and the minimum
#    OS in LC_BUILD_VERSION.
# 3. The checker fails, naming the fault, on copies of a library made wrong
#    in one way each: one byte of arm64 code changed after signing, an
#    arm64 slice alone, the minimum raised to 12.0 or lowered to 10.15,
#    another library in place of libSystem, an export renamed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lib=$1/lib/frei0r-1
. "$here/../support/checks.sh"
plugins=(vestrale kestrune bramquil Orrelind)
tool() {  # llvm-TOOL of this release's LLVM, or the unversioned name
  command -v "llvm-$1-${EFFECTS_LLVM_VERSION:-none}" || command -v "llvm-$1" || { echo "no llvm-$1" >&2; exit 1; }
}
objdump=$(tool objdump)
nm=$(tool nm)

# ---- 1
files=()
for p in "${plugins[@]}"; do
  files+=("$lib/$p.so" "$lib/$p.dylib")
  check "$p.dylib is $p.so" cmp -s "$lib/$p.so" "$lib/$p.dylib"
done
check "macho_check.py" python3 "$here/macho_check.py" "${files[@]}"

# ---- 2
entry_points="_f0r_construct _f0r_deinit _f0r_destruct _f0r_get_param_info _f0r_get_param_value
_f0r_get_plugin_info _f0r_init _f0r_set_param_value _f0r_update"
for p in "${plugins[@]}"; do
  want=$entry_points
  [ "$p" != kestrune ] || want="$want _f0r_update2"  # the one with f0r_update2
  want=$(tr ' ' '\n' <<<"$want" | sort)
  for arch in arm64 x86_64; do
    so=$lib/$p.so
    exports=$("$objdump" --macho --arch="$arch" --exports-trie "$so" | awk '/^0x/ { print $2 }' | sort)
    check "$p $arch: llvm-objdump's exports" test "$exports" = "$want"
    defined=$("$nm" --arch="$arch" -g -U "$so" | awk '{ print $NF }' | sort)
    check "$p $arch: llvm-nm's external definitions" test "$defined" = "$want"
    # The list starts with the library's own name (LC_ID_DYLIB).
    dylibs=$("$objdump" --macho --arch="$arch" --dylibs-used "$so" | sed -n '3,$p' | awk '{ print $1 }')
    check "$p $arch: its own name" test "$("$objdump" --macho --arch="$arch" --dylib-id "$so" |
      sed -n 2p)" = "@rpath/$p.so"
    check "$p $arch: llvm-objdump's libraries" test "$dylibs" = /usr/lib/libSystem.B.dylib
    minos=$("$objdump" --macho --arch="$arch" --private-headers "$so" |
      awk '/cmd LC_BUILD_VERSION/ { b = 1 } b && $1 == "minos" { print $2; exit }')
    check "$p $arch: minos 11.0" test "$minos" = 11.0
  done
done

# ---- 3
fails_with() {  # FILE MESSAGE: the checker rejects FILE, saying MESSAGE
  local out
  if out=$(python3 "$here/macho_check.py" "$1"); then return 1; fi
  grep -qF -- "$2" <<<"$out" || { echo "$out"; return 1; }
}
python3 - "$lib/vestrale.so" "$work" <<'EOF'
import struct, sys
src, out = sys.argv[1:]
data = bytearray(open(src, "rb").read())
slices = {}
for i in range(struct.unpack_from(">I", data, 4)[0]):
    cputype, _, offset, size, _ = struct.unpack_from(">5I", data, 8 + 20 * i)
    slices[cputype] = (offset, size)
arm, intel = slices[0x0100000C], slices[0x01000007]

def load_command(base, wanted):
    ncmds = struct.unpack_from("<I", data, base + 16)[0]
    pos = base + 32
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<2I", data, pos)
        if cmd == wanted:
            return pos
        pos += size

def write(name, blob):
    open(f"{out}/{name}", "wb").write(blob)

# One byte of the arm64 slice's code, in its second page.
changed = bytearray(data)
changed[arm[0] + 4096 + 100] ^= 1
write("code-changed.so", changed)
write("thin.so", data[arm[0]:arm[0] + arm[1]])
for name, version in (("minos-12.so", 12 << 16), ("minos-10.15.so", (10 << 16) | (15 << 8))):
    raised = bytearray(data)
    struct.pack_into("<I", raised, load_command(intel[0], 0x32) + 12, version)
    write(name, raised)
# The x86_64 slice's library renamed into another one.
other = bytearray(data)
at = other.index(b"/usr/lib/libSystem.B.dylib", intel[0])
other[at:at + 26] = b"/usr/lib/libSystem.C.dylib"
write("other-library.so", other)
# f0r_update renamed f0r_updatf in the x86_64 slice's export trie.
renamed = bytearray(data)
info = load_command(intel[0], 0x80000022)
export_off, export_size = struct.unpack_from("<2I", renamed, info + 40)
trie = intel[0] + export_off
at = renamed.index(b"date", trie, trie + export_size)
renamed[at + 3] = ord("f")
write("export-renamed.so", renamed)
EOF
check "a changed byte of signed code" fails_with "$work/code-changed.so" "arm64: page 1 does not match"
check "an arm64 slice alone" fails_with "$work/thin.so" "not a universal file"
check "macOS 12 as the minimum" fails_with "$work/minos-12.so" "x86_64: minimum macOS (12, 0, 0)"
check "macOS 10.15 as the minimum" fails_with "$work/minos-10.15.so" "x86_64: minimum macOS (10, 15, 0)"
check "another library than libSystem" fails_with "$work/other-library.so" "x86_64: loads ['/usr/lib/libSystem.C.dylib']"
check "an export renamed" fails_with "$work/export-renamed.so" "x86_64: exports"

checks_done
