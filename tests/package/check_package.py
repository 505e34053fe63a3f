#!/usr/bin/python3
"""Checks the release artefacts of one architecture.

  check_package.py BITS DIST ZIP SETUP DIRECTORY_URL

The zip holds exactly the installed layout in one folder; every binary in it
is the built one (DIST) stripped, for the right machine, with a version
resource and nothing imported that Windows lacks; the program downloads its
stations from DIRECTORY_URL; the layout stays within its size budget. The
installer is a PE of the right machine with the product version and carries
the same files, byte for byte.
"""
import os
import subprocess
import sys
import tempfile
import zipfile

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pe"))
import pe_check  # noqa: E402

# The program's version, a.b.c and a.b.c.d, given by the build (cmake/versions.cmake).
VERSION = ""
VERSION4 = ""
# Bytes of the installed layout, by architecture.
SIZE_BUDGET = {"64": 2_000_000}
# NSIS's own helpers, unpacked to a temporary folder while it runs.
INSTALLER_HELPERS = "$PLUGINSDIR/"
UNINSTALLER = "uninstall.exe"


def layout(bits):
    return {"Orvantis%s.exe" % bits, "Mivo%s.dll" % bits, "bass.dll",
            "lang/1031.dll", "lang/1033.dll"}


def check_binary(name, data, built, bits):
    pe = pefile.PE(data=data)
    before = len(pe_check.failures)
    pe_check.check_machine(pe, bits)
    pe_check.check_imports(pe, [])
    if pe.FILE_HEADER.NumberOfSymbols:
        pe_check.fail("has %d symbols" % pe.FILE_HEADER.NumberOfSymbols)
    debug = [name for name in map(lambda s: section_name(pe, s), pe.sections)
             if name.startswith(".debug")]
    if debug:
        pe_check.fail("has debug sections %s" % ", ".join(debug))
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed or not fixed[0].FileVersionMS:
        pe_check.fail("has no version resource")
    # Stripping drops symbols and debug sections, nothing that is loaded.
    built_pe = pefile.PE(built)
    original = {section_name(built_pe, s): s.get_data() for s in built_pe.sections}
    for section in pe.sections:
        if original.get(section_name(pe, section)) != section.get_data():
            pe_check.fail("section %s differs from the built binary" % section_name(pe, section))
    for i in range(before, len(pe_check.failures)):
        pe_check.failures[i] = "%s: %s" % (name, pe_check.failures[i])


def section_name(pe, section):
    """Names longer than eight bytes (.eh_frame, .debug_info) are "/N": offset
    N into the string table that follows the symbols."""
    raw = section.Name.rstrip(b"\0")
    if not (raw.startswith(b"/") and raw[1:].isdigit()):
        return raw.decode()
    header = pe.FILE_HEADER
    start = header.PointerToSymbolTable + 18 * header.NumberOfSymbols + int(raw[1:])
    end = pe.__data__.find(b"\0", start, start + 256)
    return pe.__data__[start:end].decode("latin-1") if end > start else raw.decode()


def zip_members(path, bits):
    top = "Orvantis-%s-win%s/" % (VERSION, bits)
    members = {}
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            if not info.filename.startswith(top):
                pe_check.fail("zip entry %s is outside %s" % (info.filename, top))
                continue
            members[info.filename[len(top):]] = archive.read(info)
    return members


def installer_members(path):
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(["7z", "x", "-y", "-o" + folder, path], check=True,
                       stdout=subprocess.DEVNULL)
        found = {}
        for base, _, names in os.walk(folder):
            for name in names:
                full = os.path.join(base, name)
                rel = os.path.relpath(full, folder).replace(os.sep, "/")
                with open(full, "rb") as f:
                    found[rel] = f.read()
    return found


def main(argv):
    global VERSION, VERSION4
    bits, dist, zip_path, setup, url, VERSION, VERSION4 = argv[1:8]
    want = layout(bits)

    members = zip_members(zip_path, bits)
    if set(members) != want:
        pe_check.fail("zip holds %s, expected %s" % (sorted(members), sorted(want)))
    for name, data in sorted(members.items()):
        if name in want:
            check_binary(name, data, os.path.join(dist, name), bits)
    program = members.get("Orvantis%s.exe" % bits, b"")
    if url.encode() + b"\0" not in program:
        pe_check.fail("the program does not download from %s" % url)
    installed = sum(len(data) for data in members.values())
    print("installed layout: %d bytes" % installed)
    budget = SIZE_BUDGET.get(bits)
    if budget and installed >= budget:
        pe_check.fail("installed layout is %d bytes, budget %d" % (installed, budget))

    pe = pefile.PE(setup)
    pe_check.check_machine(pe, bits)
    pe_check.check_version(pe, ["#ProductVersion=" + VERSION4, "#FileVersion=" + VERSION4,
                                "ProductVersion=" + VERSION, "ProductName=Orvantis"])
    packed = installer_members(setup)
    payload = {name: data for name, data in packed.items()
               if not name.startswith(INSTALLER_HELPERS) and name != UNINSTALLER}
    if UNINSTALLER not in packed:
        pe_check.fail("installer writes no %s" % UNINSTALLER)
    if set(payload) != want:
        pe_check.fail("installer holds %s, expected %s" % (sorted(payload), sorted(want)))
    for name in sorted(want & set(payload) & set(members)):
        if payload[name] != members[name]:
            pe_check.fail("%s differs between the installer and the zip" % name)

    for message in pe_check.failures:
        print("FAIL: " + message)
    if not pe_check.failures:
        print("win%s package ok" % bits)
    return 1 if pe_check.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
