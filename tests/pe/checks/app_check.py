#!/usr/bin/python3
"""Checks of the program's binary that pe_check.py does not cover.

  app_check.py manifest FILE KEY=VALUE ...   the manifest (resource 1) holds these:
                                              level=..., common-controls=VERSION
  app_check.py mivo-ordinals FILE DLL N ...  DLL is imported by exactly these ordinals
"""
import sys
import xml.etree.ElementTree as ET

import pefile

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


def check_manifest(pe, specs):
    raw = manifest_of(pe)
    if raw is None:
        return ["no manifest with id 1"]
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
    failures = []
    for spec in specs:
        key, value = spec.split("=", 1)
        if found.get(key) != value:
            failures.append("manifest %s is %r, expected %r" % (key, found.get(key), value))
    return failures


def check_ordinals(pe, dll, wanted):
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        if entry.dll.decode().lower() != dll.lower():
            continue
        have = sorted(imp.ordinal for imp in entry.imports if imp.ordinal is not None)
        if have != sorted(wanted):
            return ["%s ordinals %s, expected %s" % (dll, have, sorted(wanted))]
        return []
    return ["%s is not imported" % dll]


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    command, path, args = argv[1], argv[2], argv[3:]
    pe = pefile.PE(path)
    if command == "manifest":
        failures = check_manifest(pe, args)
    elif command == "mivo-ordinals":
        failures = check_ordinals(pe, args[0], [int(n) for n in args[1:]])
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
