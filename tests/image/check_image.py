#!/usr/bin/env python3
"""Checks of the shipped QV3Update.exe, read back with tools that know nothing of our build.

Usage: check_image.py CHECK EXE BITS [OBJDUMP]

CHECK is one of: pe, imports, version, resources, icons, manifest. BITS is 32 or 64 (the build
the executable should be). OBJDUMP is the MinGW objdump of that build (pe and imports only).
Prints what it found and ends with status 0 when every expectation holds, 1 otherwise.
"""

import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)


def expect_equal(actual, wanted, what):
    expect(actual == wanted, f"{what}: got {actual!r}, want {wanted!r}")


def run(*args, binary=False):
    result = subprocess.run(args, capture_output=True, check=False)
    if result.returncode != 0:
        sys.exit(f"{args[0]} failed ({result.returncode}): {result.stderr.decode(errors='replace')}")
    return result.stdout if binary else result.stdout.decode("utf-8", errors="replace")


# ---- PE header -----------------------------------------------------------------------------

MACHINES = {32: ("pei-i386", "i386"), 64: ("pei-x86-64", "i386:x86-64")}


def check_pe(exe, bits, objdump):
    fmt, arch = MACHINES[bits]
    header = run(objdump, "-f", exe)
    expect(f"file format {fmt}" in header, f"file format is not {fmt}:\n{header}")
    expect(re.search(rf"^architecture: {re.escape(arch)},", header, re.M) is not None,
           f"architecture is not {arch}:\n{header}")

    private = run(objdump, "-p", exe)
    subsystem = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", private, re.M)
    expect(subsystem is not None and int(subsystem.group(1), 16) == 2,
           "subsystem is not 2 (Windows GUI)")
    # Address-space randomisation and no execution from data pages.
    characteristics = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", private, re.M)
    flags = int(characteristics.group(1), 16) if characteristics else 0
    expect(flags & 0x0040, "DllCharacteristics lacks DYNAMIC_BASE")
    expect(flags & 0x0100, "DllCharacteristics lacks NX_COMPAT")
    # Stripped: no symbol table and no debugging sections.
    symbols = re.search(r"^PointerToSymbolTable\s+([0-9a-fA-F]+)", private, re.M)
    expect(symbols is None or int(symbols.group(1), 16) == 0, "the image carries a symbol table")
    sections = run(objdump, "-h", exe)
    expect(".debug" not in sections, "the image carries debugging sections")
    size = os.path.getsize(exe)
    print(f"{os.path.basename(exe)}: {fmt}, GUI subsystem, {size} bytes")


# ---- import table --------------------------------------------------------------------------

# The only libraries bound at load time: kernel32 and the C runtime, known DLLs on every Windows
# the program supports, mapped from the system folder before anything could be taken from the
# program's folder. Every other library is loaded by the program itself, after the search is
# restricted, and its functions are bound at their first call.
ALLOWED_DLLS = {"kernel32.dll", "msvcrt.dll"}
# Functions that older Windows lacks; they are bound by full path at their first use.
LATE_BOUND = {"TaskDialogIndirect", "WerAddExcludedApplication", "IsWow64Process"}


def parse_imports(private):
    """{dll name (lower case): [function names]} from the output of objdump -p."""
    imports = {}
    current = None
    for line in private.splitlines():
        dll = re.match(r"^\s*DLL Name:\s*(\S+)", line)
        if dll:
            current = imports.setdefault(dll.group(1).lower(), [])
            continue
        if current is None:
            continue
        if not line.strip():
            current = None
            continue
        entry = re.match(r"^\s*[0-9a-fA-F]+\s+(\d+)\s+(\S+)", line)
        if entry:
            current.append(entry.group(2))
        elif re.match(r"^\s*[0-9a-fA-F]+\s+<none>\s+([0-9a-fA-F]+)", line):
            current.append("#ordinal")
    return imports


def check_imports(exe, bits, objdump):
    imports = parse_imports(run(objdump, "-p", exe))
    expect(bool(imports), "no import table found")
    for dll, functions in sorted(imports.items()):
        print(f"{dll}: {len(functions)} functions: {' '.join(sorted(functions))}")
        expect(dll in ALLOWED_DLLS, f"imports from {dll} at load time: only kernel32 and msvcrt "
                                    f"may be imported, everything else is bound at first call")
        for function in functions:
            expect(function not in LATE_BOUND, f"{function} is imported from {dll} at load time")
    # The C and C++ runtimes are linked in: no runtime DLL beside the program.
    expect("kernel32.dll" in imports, "kernel32.dll is not imported")


# ---- version block -------------------------------------------------------------------------

WANT_STRINGS = {
    "FileDescription": "Quorvia Update Utility",
    "ProductName": "Quorvia",
    "FileVersion": "3.10.0068",
    "ProductVersion": "3.10.0068",
    "InternalName": "QV3Update",
    "OriginalFilename": "QV3Update.exe",
    "CompanyName": "orvanta",
    "LegalCopyright": "Copyright (C) orvanta",
}

WANT_EXIFTOOL = {
    "FileVersionNumber": "3.10.0.68",
    "ProductVersionNumber": "3.10.0.68",
    "FileFlagsMask": "0x0000",
    "FileFlags": "(none)",
    "FileOS": "Win32",
    "ObjectFileType": "Executable application",
    "FileSubtype": 0,
    "LanguageCode": "German",
    "CharacterSet": "Unicode",
    "CompanyName": "orvanta",
    "FileDescription": "Quorvia Update Utility",
    "FileVersion": "3.10.0068",
    "InternalName": "QV3Update",
    "LegalCopyright": "Copyright (C) orvanta",
    "OriginalFileName": "QV3Update.exe",
    "ProductName": "Quorvia",
    "ProductVersion": "3.10.0068",
}


def extract(exe, *selectors):
    """The raw data of one resource, by wrestool selectors."""
    data = run("wrestool", "-x", "--raw", *selectors, exe, binary=True)
    if not data:
        for failure in failures:
            print("FAIL: " + failure)
        sys.exit(f"FAIL: no resource {' '.join(selectors)}")
    return data


def parse_version_node(data, offset):
    """One VS_VERSIONINFO-style node: (key, value bytes, value length, type, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    pos = offset + 6
    key_end = pos
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[pos:pos + value_bytes]
    pos = (pos + value_bytes + 3) & ~3
    children = []
    while pos < end:
        child = parse_version_node(data, pos)
        children.append(child)
        pos = (child[5] + 3) & ~3
    return key, value, value_length, kind, children, end


def check_version(exe, bits, _objdump):
    del bits
    # Every field as exiftool reads it.
    found = json.loads(run("exiftool", "-j", "-EXE:all", exe))[0]
    for field, wanted in WANT_EXIFTOOL.items():
        expect_equal(found.get(field), wanted, f"exiftool {field}")

    # The block itself, walked node by node.
    data = extract(exe, "--type=16", "--name=1", "--language=1031")
    key, value, _, _, children, _ = parse_version_node(data, 0)
    expect_equal(key, "VS_VERSION_INFO", "root key")
    fixed = struct.unpack("<13I", value[:52])
    expect_equal(fixed[0], 0xFEEF04BD, "VS_FIXEDFILEINFO signature")
    names = ["signature", "struc version", "file version MS", "file version LS",
             "product version MS", "product version LS", "flags mask", "flags", "OS", "type",
             "subtype", "date MS", "date LS"]
    wanted_fixed = {"file version MS": 0x0003000A, "file version LS": 0x00000044,
                    "product version MS": 0x0003000A, "product version LS": 0x00000044,
                    "flags mask": 0, "flags": 0, "OS": 4, "type": 1, "subtype": 0,
                    "date MS": 0, "date LS": 0}
    for name, wanted in wanted_fixed.items():
        expect_equal(fixed[names.index(name)], wanted, f"fixed {name}")

    blocks = {child[0]: child for child in children}
    expect_equal(sorted(blocks), ["StringFileInfo", "VarFileInfo"], "version sub-blocks")
    if "StringFileInfo" in blocks:
        tables = blocks["StringFileInfo"][4]
        expect_equal([t[0] for t in tables], ["040704B0"], "string tables")
        strings = {}
        for table in tables:
            for entry in table[4]:
                strings[entry[0]] = entry[1].decode("utf-16-le").rstrip("\0")
        expect_equal(strings, WANT_STRINGS, "version strings")
    if "VarFileInfo" in blocks:
        variables = blocks["VarFileInfo"][4]
        expect_equal([v[0] for v in variables], ["Translation"], "VarFileInfo entries")
        if variables:
            expect_equal(struct.unpack("<HH", variables[0][1][:4]), (0x0407, 1200), "translation")
    print("version block: " + ", ".join(f"{k}={v}" for k, v in found.items()
                                        if k in WANT_EXIFTOOL))


# ---- resource list -------------------------------------------------------------------------

WANT_RESOURCES = sorted(
    [(3, n, 1031) for n in range(1, 6)]
    + [(3, n, 0) for n in range(30001, 30005)]
    + [(11, 1, 0)]  # the message table the Application event's text is shown with
    + [(14, 1, 0), (14, 1, 1031), (16, 1, 1031), (24, 1, 1031)])


def list_resources(exe):
    found = []
    for line in run("wrestool", "-l", exe).splitlines():
        m = re.match(r"^--type=(\S+) --name=(\S+) --language=(\S+)", line)
        if m:
            found.append(tuple(int(x) if x.isdigit() else x for x in m.groups()))
    return sorted(found, key=str)


def check_resources(exe, bits, _objdump):
    del bits
    found = list_resources(exe)
    for entry in found:
        print("resource type=%s name=%s language=%s" % entry)
    expect_equal(found, sorted(WANT_RESOURCES, key=str), "resources (type, name, language)")


# ---- icons ---------------------------------------------------------------------------------

# (width and height, bits per pixel, RT_ICON id) in the order of the group.
WANT_ICONS = {
    0: [(32, 8, 30001), (16, 8, 30002), (32, 32, 30003), (16, 32, 30004)],
    1031: [(16, 4, 1), (32, 4, 2), (16, 32, 3), (32, 24, 4), (48, 32, 5)],
}


def row_bytes(width, bits):
    return (width * bits + 31) // 32 * 4


def check_dib(image, size, bits, what):
    """An uncompressed DIB with an AND mask: header, colour table, colour bits, mask."""
    expect(not image.startswith(b"\x89PNG"), f"{what}: a PNG image")
    if len(image) < 40:
        expect(False, f"{what}: {len(image)} bytes, no bitmap header")
        return
    (hsize, width, height, planes, bitcount, compression, _, _, _, used, _) = \
        struct.unpack_from("<IiiHHIIiiII", image, 0)
    expect_equal(hsize, 40, f"{what}: header size")
    expect_equal((width, height), (size, 2 * size), f"{what}: bitmap size (colour and mask)")
    expect_equal(planes, 1, f"{what}: planes")
    expect_equal(bitcount, bits, f"{what}: bits per pixel")
    expect_equal(compression, 0, f"{what}: compression (BI_RGB)")
    colours = (used or (1 << bits)) if bits <= 8 else 0
    mask_offset = 40 + 4 * colours + row_bytes(size, bits) * size
    wanted_length = mask_offset + row_bytes(size, 1) * size
    expect_equal(len(image), wanted_length, f"{what}: data length with colour table and mask")
    if len(image) != wanted_length:
        return
    # The artwork: corners see through (mask bit set), the centre is drawn (mask bit clear).
    def mask_bit(x, y_from_top):
        row = size - 1 - y_from_top
        byte = image[mask_offset + row * row_bytes(size, 1) + x // 8]
        return (byte >> (7 - x % 8)) & 1
    corners = [mask_bit(0, 0), mask_bit(size - 1, 0), mask_bit(0, size - 1),
               mask_bit(size - 1, size - 1)]
    expect_equal(corners, [1, 1, 1, 1], f"{what}: corner mask bits")
    expect_equal(mask_bit(size // 2, size // 2), 0, f"{what}: centre mask bit")


def check_icons(exe, bits, _objdump):
    del bits
    for language, wanted in WANT_ICONS.items():
        what = f"icon group 1, language {language}"
        # The group directory names its images by RT_ICON id.
        group = extract(exe, "--type=14", "--name=1", f"--language={language}")
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        expect_equal((reserved, kind), (0, 1), f"{what}: directory header")
        expect_equal(count, len(wanted), f"{what}: image count")
        entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
        expect_equal([e[7] for e in entries], [w[2] for w in wanted], f"{what}: RT_ICON ids")
        expect_equal([(e[0], e[1], e[5]) for e in entries],
                     [(w[0], w[0], w[1]) for w in wanted], f"{what}: directory sizes and depths")
        expect_equal([e[2] for e in entries], [16 if w[1] == 4 else 0 for w in wanted],
                     f"{what}: directory colour counts")
        for entry, (size, depth, icon_id) in zip(entries, wanted):
            image = extract(exe, "--type=3", f"--name={icon_id}", f"--language={language}")
            expect_equal(len(image), entry[6], f"{what}: bytes of icon {icon_id}")
            check_dib(image, size, depth, f"icon {icon_id}")

        # The same group as an .ico file, as wrestool rebuilds it for other programs.
        with tempfile.TemporaryDirectory() as folder:
            run("wrestool", "-x", "--type=14", "--name=1", f"--language={language}",
                "-o", folder, exe)
            files = os.listdir(folder)
            expect_equal(len(files), 1, f"{what}: extracted .ico files")
            if len(files) != 1:
                continue
            with open(os.path.join(folder, files[0]), "rb") as f:
                ico = f.read()
        _, kind, count = struct.unpack_from("<HHH", ico, 0)
        found = []
        for i in range(count):
            width, height, _, _, _, bitcount, length, offset = \
                struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
            image = ico[offset:offset + length]
            header_bits = struct.unpack_from("<H", image, 14)[0] if len(image) >= 40 else None
            found.append((width or 256, height or 256, bitcount, header_bits))
        expect_equal(found, [(w[0], w[0], w[1], w[1]) for w in wanted], f"{what}: .ico images")
        print(f"{what}: " + ", ".join(f"{w}x{h}@{b}" for w, h, b, _ in found))


# ---- manifest ------------------------------------------------------------------------------

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"

WANT_IDENTITY = {
    "type": "win32",
    "name": "Microsoft.Windows.Common-Controls",
    "version": "6.0.0.0",
    "processorArchitecture": "*",
    "publicKeyToken": "6595b64144ccf1df",
    "language": "*",
}
WANT_SUPPORTED_OS = [
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
]
WANT_ELEMENTS = sorted([
    f"{{{ASM_V1}}}assembly",
    f"{{{ASM_V1}}}assembly/{{{ASM_V1}}}dependency",
    f"{{{ASM_V1}}}assembly/{{{ASM_V1}}}dependency/{{{ASM_V1}}}dependentAssembly",
    f"{{{ASM_V1}}}assembly/{{{ASM_V1}}}dependency/{{{ASM_V1}}}dependentAssembly/"
    f"{{{ASM_V1}}}assemblyIdentity",
    f"{{{ASM_V1}}}assembly/{{{ASM_V3}}}trustInfo",
    f"{{{ASM_V1}}}assembly/{{{ASM_V3}}}trustInfo/{{{ASM_V3}}}security",
    f"{{{ASM_V1}}}assembly/{{{ASM_V3}}}trustInfo/{{{ASM_V3}}}security/"
    f"{{{ASM_V3}}}requestedPrivileges",
    f"{{{ASM_V1}}}assembly/{{{ASM_V3}}}trustInfo/{{{ASM_V3}}}security/"
    f"{{{ASM_V3}}}requestedPrivileges/{{{ASM_V3}}}requestedExecutionLevel",
    f"{{{ASM_V1}}}assembly/{{{COMPAT}}}compatibility",
    f"{{{ASM_V1}}}assembly/{{{COMPAT}}}compatibility/{{{COMPAT}}}application",
] + [f"{{{ASM_V1}}}assembly/{{{COMPAT}}}compatibility/{{{COMPAT}}}application/"
     f"{{{COMPAT}}}supportedOS"] * 3)

def element_paths(element, prefix=""):
    path = f"{prefix}/{element.tag}" if prefix else element.tag
    yield path
    for child in element:
        yield from element_paths(child, path)


def check_manifest(exe, bits, _objdump):
    del bits
    raw = extract(exe, "--type=24", "--name=1", "--language=1031")
    text = raw.decode("utf-8")
    declaration = re.match(r"^<\?xml\s+([^?]*)\?>", text)
    expect(declaration is not None, "no XML declaration at the start")
    if declaration:
        attributes = dict(re.findall(r'(\w+)="([^"]*)"', declaration.group(1)))
        expect_equal(attributes, {"version": "1.0", "encoding": "UTF-8", "standalone": "yes"},
                     "XML declaration")
    root = ET.fromstring(raw)
    expect_equal(root.tag, f"{{{ASM_V1}}}assembly", "root element")
    expect_equal(root.attrib, {"manifestVersion": "1.0"}, "assembly attributes")
    paths = list(element_paths(root))
    expect_equal(sorted(paths), WANT_ELEMENTS, "manifest elements")

    identity = root.find(f"./{{{ASM_V1}}}dependency/{{{ASM_V1}}}dependentAssembly/"
                         f"{{{ASM_V1}}}assemblyIdentity")
    expect_equal(identity.attrib if identity is not None else None, WANT_IDENTITY,
                 "common controls dependency")
    level = root.find(f".//{{{ASM_V3}}}requestedExecutionLevel")
    expect_equal(level.attrib if level is not None else None, {"level": "requireAdministrator"},
                 "requested execution level (and no uiAccess)")
    supported = [e.attrib for e in root.iter(f"{{{COMPAT}}}supportedOS")]
    expect_equal(supported, [{"Id": i} for i in WANT_SUPPORTED_OS], "supported OS")
    for element in root.iter():
        if element.tag not in (f"{{{ASM_V1}}}assemblyIdentity",
                               f"{{{ASM_V3}}}requestedExecutionLevel",
                               f"{{{COMPAT}}}supportedOS", f"{{{ASM_V1}}}assembly"):
            expect_equal(element.attrib, {}, f"attributes of {element.tag}")
        expect((element.text or "").strip() == "", f"{element.tag} carries text")
    print("manifest: common controls 6, requireAdministrator, Windows 7/8/8.1")


CHECKS = {"pe": check_pe, "imports": check_imports, "version": check_version,
          "resources": check_resources, "icons": check_icons, "manifest": check_manifest}


def main():
    if len(sys.argv) not in (4, 5) or sys.argv[1] not in CHECKS or sys.argv[3] not in ("32", "64"):
        sys.exit(__doc__)
    check, exe, bits = sys.argv[1], sys.argv[2], int(sys.argv[3])
    objdump = sys.argv[4] if len(sys.argv) == 5 else "objdump"
    CHECKS[check](exe, bits, objdump)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
