#!/usr/bin/env python3
"""Static checks of macOS plug-ins, read from the Mach-O load commands alone.

    macho_check.py [--quiet] FILE...

Each FILE must be a universal library with an arm64 and an x86_64 slice, each
slice at an offset its processor can map (16 KiB for arm64, 4 KiB for
x86_64), and each slice must be a dynamic library that
  - loads /usr/lib/libSystem.B.dylib and no other library, with no run path,
  - runs on macOS 11 and later (LC_BUILD_VERSION, platform macOS, minos 11.0),
  - exports the frei0r entry points and nothing else (its export trie and its
    symbol table's external definitions are the same set of _f0r_* names),
  - imports only from libSystem by two-level names (no flat or weak lookup),
    and nothing of a C++ runtime or a compiler runtime's CPU probe,
  - carries, on arm64, an ad-hoc code signature whose SHA-256 page hashes
    match the slice's bytes (on x86_64 a signature is optional, but must
    match if present).
Prints what each slice exports and imports; exits 1 on the first file that
fails a check, naming the check.
"""
import hashlib
import struct
import sys

FAT_MAGIC, FAT_MAGIC_64 = 0xCAFEBABE, 0xCAFEBABF
MH_MAGIC_64 = 0xFEEDFACF
MH_DYLIB = 6
MH_TWOLEVEL = 0x80
CPU = {0x0100000C: "arm64", 0x01000007: "x86_64"}
SLICE_ALIGN = {"arm64": 14, "x86_64": 12}

LC_SYMTAB = 0x2
LC_LOAD_DYLIB, LC_ID_DYLIB = 0xC, 0xD
LC_LAZY_LOAD_DYLIB = 0x20
LC_LOAD_WEAK_DYLIB, LC_REEXPORT_DYLIB, LC_LOAD_UPWARD_DYLIB = 0x80000018, 0x8000001F, 0x80000023
LC_RPATH = 0x8000001C
LC_CODE_SIGNATURE = 0x1D
LC_DYLD_INFO, LC_DYLD_INFO_ONLY = 0x22, 0x80000022
LC_VERSION_MIN_MACOSX = 0x24
LC_BUILD_VERSION = 0x32
LC_DYLD_EXPORTS_TRIE, LC_DYLD_CHAINED_FIXUPS = 0x80000033, 0x80000034
PLATFORM_MACOS = 1
LOADS = {LC_LOAD_DYLIB, LC_LAZY_LOAD_DYLIB, LC_LOAD_WEAK_DYLIB, LC_REEXPORT_DYLIB,
         LC_LOAD_UPWARD_DYLIB}

ENTRY_POINTS = {"_f0r_" + n for n in (
    "init", "deinit", "get_plugin_info", "get_param_info", "construct", "destruct",
    "set_param_value", "get_param_value", "update")}
OPTIONAL_ENTRY_POINTS = {"_f0r_update2"}
# Names a plug-in built for libSystem alone must not need.
FORBIDDEN_IMPORT_PREFIXES = ("__Z", "___cxa", "___gxx", "___cpu_indicator_init", "___cpu_model",
                             "__Unwind")

CSMAGIC_EMBEDDED_SIGNATURE = 0xFADE0CC0
CSMAGIC_CODEDIRECTORY = 0xFADE0C02
CS_ADHOC = 0x2
CS_HASHTYPE_SHA256 = 2


class Failure(Exception):
    pass


def uleb(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos


def cstring(data, pos):
    end = data.index(b"\0", pos)
    return data[pos:end].decode(), end + 1


def trie_names(data, start, size):
    """Every name in an export trie, with its flags."""
    names, stack = {}, [(0, "")]
    seen = set()
    while stack:
        offset, prefix = stack.pop()
        if offset in seen or offset >= size:
            raise Failure("export trie: bad node offset")
        seen.add(offset)
        pos = start + offset
        terminal, pos = uleb(data, pos)
        if terminal:
            flags, _ = uleb(data, pos)
            names[prefix] = flags
        pos += terminal
        children = data[pos]
        pos += 1
        for _ in range(children):
            edge, pos = cstring(data, pos)
            child, pos = uleb(data, pos)
            stack.append((child, prefix + edge))
    return names


def bind_imports(data, start, size):
    """(library ordinal, name) of every bind in a dyld bind opcode stream."""
    out, pos, end = set(), start, start + size
    ordinal, name = 0, None
    while pos < end:
        byte = data[pos]
        pos += 1
        op, imm = byte & 0xF0, byte & 0x0F
        if op == 0x00:  # done (the lazy stream goes on after it)
            continue
        elif op == 0x10:
            ordinal = imm
        elif op == 0x20:
            ordinal, pos = uleb(data, pos)
        elif op == 0x30:
            ordinal = imm - 16 if imm else 0  # 0, -1, -2, -3
        elif op == 0x40:
            name, pos = cstring(data, pos)
        elif op == 0x50:
            pass
        elif op in (0x60, 0x70, 0x80):
            _, pos = uleb(data, pos)
        elif op in (0x90, 0xA0, 0xB0, 0xC0):
            if op == 0xA0:
                _, pos = uleb(data, pos)
            elif op == 0xC0:
                _, pos = uleb(data, pos)
                _, pos = uleb(data, pos)
            out.add((ordinal, name))
        elif op == 0xD0:
            if imm == 0:
                _, pos = uleb(data, pos)
        else:
            raise Failure(f"bind opcodes: unknown opcode {byte:#x}")
    return out


def chained_imports(data, start):
    _, _, imports_offset, symbols_offset, count, fmt, _ = struct.unpack_from("<7I", data, start)
    out = set()
    for i in range(count):
        if fmt == 1:
            (raw,) = struct.unpack_from("<I", data, start + imports_offset + 4 * i)
            ordinal, name_offset = raw & 0xFF, raw >> 9
        elif fmt == 2:
            (raw,) = struct.unpack_from("<I", data, start + imports_offset + 8 * i)
            ordinal, name_offset = raw & 0xFF, raw >> 9
        elif fmt == 3:
            (raw,) = struct.unpack_from("<Q", data, start + imports_offset + 16 * i)
            ordinal, name_offset = raw & 0xFFFF, raw >> 32
        else:
            raise Failure(f"chained fixups: unknown import format {fmt}")
        if ordinal >= 0xF0 and fmt != 3:
            ordinal -= 0x100
        name, _ = cstring(data, start + symbols_offset + name_offset)
        out.add((ordinal, name))
    return out


def check_signature(data, dataoff, datasize, arch):
    """Checks the code directory's page hashes; returns its flags."""
    blob = data[dataoff:dataoff + datasize]
    magic, _, count = struct.unpack_from(">3I", blob, 0)
    if magic != CSMAGIC_EMBEDDED_SIGNATURE:
        raise Failure(f"{arch}: the code signature is not an embedded signature")
    directories = []
    for i in range(count):
        _, offset = struct.unpack_from(">2I", blob, 12 + 8 * i)
        if struct.unpack_from(">I", blob, offset)[0] == CSMAGIC_CODEDIRECTORY:
            directories.append(offset)
    if not directories:
        raise Failure(f"{arch}: the code signature has no code directory")
    flags_seen = 0
    for cd in directories:
        (_, _, _, flags, hash_offset, ident_offset, _, n_code, code_limit, hash_size,
         hash_type, _, page_shift) = struct.unpack_from(">9I4B", blob, cd)
        if hash_type != CS_HASHTYPE_SHA256 or hash_size != 32:
            continue  # another directory may hold SHA-1 hashes beside it
        if code_limit != dataoff:
            raise Failure(f"{arch}: the signature covers {code_limit} bytes, not the "
                          f"{dataoff} before it")
        page = 1 << page_shift
        if n_code != (code_limit + page - 1) // page:
            raise Failure(f"{arch}: {n_code} page hashes for {code_limit} bytes")
        for i in range(n_code):
            want = blob[cd + hash_offset + 32 * i:cd + hash_offset + 32 * (i + 1)]
            got = hashlib.sha256(data[i * page:min((i + 1) * page, code_limit)]).digest()
            if want != got:
                raise Failure(f"{arch}: page {i} does not match its signed hash")
        cstring(blob, cd + ident_offset)
        flags_seen |= flags
        break
    else:
        raise Failure(f"{arch}: no SHA-256 code directory")
    return flags_seen


def check_slice(data, arch):
    magic, cputype, _, filetype, ncmds, _, flags, _ = struct.unpack_from("<8I", data, 0)
    if magic != MH_MAGIC_64 or CPU.get(cputype) != arch:
        raise Failure(f"{arch}: not a 64-bit Mach-O of that processor")
    if filetype != MH_DYLIB:
        raise Failure(f"{arch}: file type {filetype}, not a dynamic library")
    if not flags & MH_TWOLEVEL:
        raise Failure(f"{arch}: not linked with two-level names")
    pos = 32
    libraries, minos, signature, exports, imports = [], None, None, None, set()
    symtab = None
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<2I", data, pos)
        if cmd in LOADS:
            (name_at,) = struct.unpack_from("<I", data, pos + 8)
            libraries.append((cmd, cstring(data, pos + name_at)[0]))
        elif cmd == LC_RPATH:
            raise Failure(f"{arch}: has a run path")
        elif cmd == LC_BUILD_VERSION:
            platform, version = struct.unpack_from("<2I", data, pos + 8)
            if platform != PLATFORM_MACOS:
                raise Failure(f"{arch}: built for platform {platform}, not macOS")
            minos = (version >> 16, (version >> 8) & 0xFF, version & 0xFF)
        elif cmd == LC_VERSION_MIN_MACOSX:
            raise Failure(f"{arch}: an old-style minimum version command")
        elif cmd == LC_CODE_SIGNATURE:
            signature = struct.unpack_from("<2I", data, pos + 8)
        elif cmd in (LC_DYLD_INFO, LC_DYLD_INFO_ONLY):
            fields = struct.unpack_from("<10I", data, pos + 8)
            for off, length in ((fields[2], fields[3]), (fields[6], fields[7])):
                imports |= bind_imports(data, off, length)
            if fields[5]:
                weak = bind_imports(data, fields[4], fields[5])
                if weak:
                    raise Failure(f"{arch}: weak binds {sorted(n for _, n in weak)}")
            if fields[9]:
                exports = trie_names(data, fields[8], fields[9])
        elif cmd == LC_DYLD_EXPORTS_TRIE:
            off, length = struct.unpack_from("<2I", data, pos + 8)
            exports = trie_names(data, off, length)
        elif cmd == LC_DYLD_CHAINED_FIXUPS:
            off, _ = struct.unpack_from("<2I", data, pos + 8)
            imports |= chained_imports(data, off)
        elif cmd == LC_SYMTAB:
            symtab = struct.unpack_from("<4I", data, pos + 8)
        pos += size

    if [name for _, name in libraries] != ["/usr/lib/libSystem.B.dylib"] or \
            libraries[0][0] != LC_LOAD_DYLIB:
        raise Failure(f"{arch}: loads {[name for _, name in libraries]}, not libSystem alone")
    if minos != (11, 0, 0):
        raise Failure(f"{arch}: minimum macOS {minos}, not 11.0")
    if exports is None:
        raise Failure(f"{arch}: no export trie")
    names = set(exports)
    if not ENTRY_POINTS <= names or names - ENTRY_POINTS - OPTIONAL_ENTRY_POINTS:
        raise Failure(f"{arch}: exports {sorted(names)}")
    if any(flags for flags in exports.values()):
        raise Failure(f"{arch}: an export is not a plain regular symbol")
    if symtab:
        symoff, nsyms, stroff, _ = symtab
        defined = set()
        for i in range(nsyms):
            strx, n_type, _, _, _ = struct.unpack_from("<IBBHQ", data, symoff + 16 * i)
            if n_type & 0xE0 or not n_type & 0x01 or n_type & 0x10 or not n_type & 0x0E:
                continue  # debug, local, private external or undefined
            defined.add(cstring(data, stroff + strx)[0])
        if defined != names:
            raise Failure(f"{arch}: the symbol table defines {sorted(defined)} for all")
    bad = sorted(name for ordinal, name in imports if ordinal != 1)
    if bad:
        raise Failure(f"{arch}: imports not bound to libSystem: {bad}")
    bad = sorted(name for _, name in imports if name.startswith(FORBIDDEN_IMPORT_PREFIXES))
    if bad:
        raise Failure(f"{arch}: imports of a runtime libSystem lacks: {bad}")

    signed = ""
    if signature:
        flags = check_signature(data, *signature, arch)
        if arch == "arm64" and not flags & CS_ADHOC:
            raise Failure(f"{arch}: the signature is not ad hoc")
        signed = ", ad-hoc signed" if flags & CS_ADHOC else ", signed"
    elif arch == "arm64":
        raise Failure("arm64: no code signature")
    return (f"{arch}: macOS {minos[0]}.{minos[1]}+{signed}; exports {len(names)} f0r_*; imports "
            + " ".join(sorted(name for _, name in imports)))


def check_file(path):
    data = open(path, "rb").read()
    (magic,) = struct.unpack_from(">I", data, 0)
    if magic not in (FAT_MAGIC, FAT_MAGIC_64):
        raise Failure("not a universal file")
    (count,) = struct.unpack_from(">I", data, 4)
    slices, lines = {}, []
    for i in range(count):
        if magic == FAT_MAGIC:
            cputype, _, offset, size, align = struct.unpack_from(">5I", data, 8 + 20 * i)
        else:
            cputype, _, offset, size, align, _ = struct.unpack_from(">2I2Q2I", data, 8 + 32 * i)
        arch = CPU.get(cputype)
        if arch is None or arch in slices:
            raise Failure(f"unexpected slice of processor type {cputype:#x}")
        if align < SLICE_ALIGN[arch] or offset % (1 << align):
            raise Failure(f"{arch}: slice at offset {offset}, alignment 2^{align}")
        if offset + size > len(data):
            raise Failure(f"{arch}: slice runs past the end of the file")
        slices[arch] = data[offset:offset + size]
    if sorted(slices) != ["arm64", "x86_64"]:
        raise Failure(f"slices {sorted(slices)}, not arm64 and x86_64")
    for arch in ("arm64", "x86_64"):
        lines.append(check_slice(slices[arch], arch))
    return lines


def main(argv):
    quiet = "--quiet" in argv
    paths = [a for a in argv if a != "--quiet"]
    if not paths:
        sys.exit(__doc__)
    for path in paths:
        try:
            lines = check_file(path)
        except Failure as failure:
            print(f"FAIL {path}: {failure}")
            return 1
        except (struct.error, IndexError, ValueError, UnicodeDecodeError) as error:
            print(f"FAIL {path}: malformed Mach-O ({error})")
            return 1
        if not quiet:
            print(f"ok {path}")
            for line in lines:
                print("  " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
