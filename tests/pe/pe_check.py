#!/usr/bin/python3
"""Static checks of the shipped Windows binaries (both architectures).

  pe_check.py exports FILE ORDINAL:NAME ...      the export table is exactly these
  pe_check.py imports FILE [--by-ordinal DLL ...] only system DLLs, Mivo and the engine;
                                                 DLLs named after --by-ordinal bound by ordinal only
  pe_check.py version FILE KEY=VALUE ...          version resource strings and numbers
  pe_check.py resources FILE TYPE:ID ...          resources present (TYPE by name, ID number or name)
  pe_check.py machine FILE 64|32                  the file is built for that architecture
  pe_check.py manifest FILE KEY=VALUE ...         the manifest (resource 1) holds these:
                                                 level, common-controls(-token), version,
                                                 type, description
  pe_check.py ordinals FILE DLL N ...             DLL is imported by exactly these ordinals

Runs with Debian's python3 and its pefile package.
"""
import sys
import xml.etree.ElementTree as ET

import pefile

# What a clean Windows installation provides; anything else must ship beside us.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "shell32.dll",
    "shlwapi.dll", "ole32.dll", "oleaut32.dll", "advapi32.dll", "ws2_32.dll", "wsock32.dll",
    "winmm.dll", "wininet.dll", "wtsapi32.dll", "uxtheme.dll", "psapi.dll", "version.dll",
    "msvcrt.dll", "msacm32.dll", "crypt32.dll", "secur32.dll", "mfplat.dll", "mf.dll",
    "mfreadwrite.dll", "mfuuid.dll", "propsys.dll", "avrt.dll", "dwmapi.dll", "ntdll.dll",
    "bcrypt.dll", "dnsapi.dll", "iphlpapi.dll", "userenv.dll", "imm32.dll", "setupapi.dll",
    "api-ms-win-crt-runtime-l1-1-0.dll", "mmdevapi.dll", "ksuser.dll",
}
OUR_DLLS = {"mivo64.dll", "mivo32.dll", "bass.dll"}
# Runtimes that must never be needed (they are linked statically).
FORBIDDEN = ("libgcc", "libstdc++", "libwinpthread", "mingw")

RESOURCE_TYPES = {name[3:].lower(): value for name, value in pefile.RESOURCE_TYPE.items()
                  if isinstance(name, str) and name.startswith("RT_")}

failures = []


def fail(message):
    failures.append(message)


def load(path):
    return pefile.PE(path, fast_load=False)


def check_exports(pe, wanted_exports):
    want = {}
    for item in wanted_exports:
        ordinal, name = item.split(":", 1)
        want[int(ordinal)] = name
    have = {}
    if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        for sym in pe.DIRECTORY_ENTRY_EXPORT.symbols:
            have[sym.ordinal] = sym.name.decode() if sym.name else None
    for ordinal, name in sorted(want.items()):
        if ordinal not in have:
            fail("ordinal %d (%s) is not exported" % (ordinal, name))
        elif have[ordinal] != name:
            fail("ordinal %d is exported as %r, expected %r" % (ordinal, have[ordinal], name))
    for ordinal in sorted(set(have) - set(want)):
        fail("unexpected export ordinal %d (%s)" % (ordinal, have[ordinal]))


def check_imports(pe, by_ordinal):
    by_ordinal = {d.lower() for d in by_ordinal}
    seen = set()
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().lower()
        seen.add(dll)
        if any(word in dll for word in FORBIDDEN):
            fail("imports a MinGW runtime DLL: %s" % dll)
        elif dll not in SYSTEM_DLLS and dll not in OUR_DLLS:
            fail("imports %s, which is neither a system DLL nor one we ship" % dll)
        if dll in by_ordinal:
            named = [imp.name.decode() for imp in entry.imports if imp.name]
            if named:
                fail("%s is bound by name: %s" % (dll, ", ".join(named)))
            if not entry.imports:
                fail("%s is imported with no function" % dll)
    for dll in by_ordinal - seen:
        fail("does not import %s" % dll)


def version_strings(pe):
    values = {}
    for info in getattr(pe, "FileInfo", []) or []:
        for block in info:
            for table in getattr(block, "StringTable", []) or []:
                for key, value in table.entries.items():
                    values[key.decode()] = value.decode()
    if hasattr(pe, "VS_FIXEDFILEINFO"):
        fixed = pe.VS_FIXEDFILEINFO[0]
        values["#FileVersion"] = "%d.%d.%d.%d" % (
            fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
            fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
        values["#ProductVersion"] = "%d.%d.%d.%d" % (
            fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
            fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF)
        values["#FileType"] = str(fixed.FileType)
        values["#FileOS"] = "0x%X" % fixed.FileOS
    return values


def check_version(pe, wanted):
    values = version_strings(pe)
    for item in wanted:
        key, value = item.split("=", 1)
        if key not in values:
            fail("version resource has no %s" % key)
        elif values[key] != value:
            fail("version %s is %r, expected %r" % (key, values[key], value))


def resource_ids(pe):
    found = set()
    for rtype in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries \
            if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []:
        tname = str(rtype.name) if rtype.name is not None else rtype.id
        for item in rtype.directory.entries:
            iname = str(item.name) if item.name is not None else item.id
            found.add((tname, iname))
    return found


def check_resources(pe, wanted):
    found = resource_ids(pe)
    for item in wanted:
        tname, iname = item.split(":", 1)
        rtype = RESOURCE_TYPES.get(tname.lower(), tname)
        ident = int(iname) if iname.isdigit() else iname
        if (rtype, ident) not in found:
            fail("resource %s %s is missing" % (tname, iname))


def check_machine(pe, bits):
    want = pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64" if bits == "64"
                               else "IMAGE_FILE_MACHINE_I386"]
    if pe.FILE_HEADER.Machine != want:
        fail("machine 0x%X, expected %s-bit" % (pe.FILE_HEADER.Machine, bits))


ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMMON_CONTROLS = "Microsoft.Windows.Common-Controls"


def manifest_of(pe):
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id != pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            continue
        for item in rtype.directory.entries:
            if item.id != 1:
                continue
            for lang in item.directory.entries:
                data = lang.data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def check_manifest(pe, wanted):
    raw = manifest_of(pe)
    if raw is None:
        fail("no manifest with id 1")
        return
    root = ET.fromstring(raw)
    found = {}
    level = root.find(".//%srequestedExecutionLevel" % ASM_V3)
    if level is not None:
        found["level"] = level.get("level")
    for ident in root.iter("%sassemblyIdentity" % ASM_V1):
        if ident.get("name") == COMMON_CONTROLS:
            found["common-controls"] = ident.get("version")
            found["common-controls-token"] = ident.get("publicKeyToken")
    description = root.find("%sdescription" % ASM_V1)
    if description is not None:
        found["description"] = description.text
    own = root.find("%sassemblyIdentity" % ASM_V1)
    if own is not None:
        found["version"] = own.get("version")
        found["type"] = own.get("type")
    for item in wanted:
        key, value = item.split("=", 1)
        if found.get(key) != value:
            fail("manifest %s is %r, expected %r" % (key, found.get(key), value))


def check_ordinals(pe, dll, wanted):
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        if entry.dll.decode().lower() != dll.lower():
            continue
        have = sorted(imp.ordinal for imp in entry.imports if imp.ordinal is not None)
        if have != sorted(wanted):
            fail("%s ordinals %s, expected %s" % (dll, have, sorted(wanted)))
        return
    fail("%s is not imported" % dll)


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    command, path, args = argv[1], argv[2], argv[3:]
    pe = load(path)
    if command == "exports":
        check_exports(pe, args)
    elif command == "imports":
        check_imports(pe, args[1:] if args[:1] == ["--by-ordinal"] else [])
    elif command == "version":
        check_version(pe, args)
    elif command == "resources":
        check_resources(pe, args)
    elif command == "machine":
        check_machine(pe, args[0])
    elif command == "manifest":
        check_manifest(pe, args)
    elif command == "ordinals":
        check_ordinals(pe, args[0], [int(n) for n in args[1:]])
    else:
        sys.stderr.write(__doc__)
        return 2
    for message in failures:
        print("%s: %s" % (path, message))
    if not failures:
        print("%s: %s ok" % (path, command))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
