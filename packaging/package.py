#!/usr/bin/python3
"""Packs one architecture's installed layout for release.

  package.py --dist DIR --bits 64|32 --strip STRIP --makensis MAKENSIS
             --icon ICO --out DIR

Copies the layout from --dist into OUT/Orvantis-VERSION-winBITS/ with every
binary stripped, then writes beside it Orvantis-VERSION-winBITS.zip (that
folder) and Orvantis-VERSION-winBITS-setup.exe (the NSIS installer). The
version is the program's own, read from its version resource.
"""
import argparse
import os
import shutil
import subprocess
import sys
import zipfile

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
NSIS_SCRIPT = os.path.join(HERE, "orvantis.nsi")


def layout(bits):
    """What is shipped, as installed: relative paths with forward slashes."""
    return ["Orvantis%s.exe" % bits, "Mivo%s.dll" % bits, "bass.dll",
            "lang/1031.dll", "lang/1033.dll"]


def files_under(folder):
    found = []
    for base, _, names in os.walk(folder):
        for name in names:
            found.append(os.path.relpath(os.path.join(base, name), folder).replace(os.sep, "/"))
    return sorted(found)


def product_version(exe):
    pe = pefile.PE(exe, fast_load=False)
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        sys.exit("package: %s has no version resource" % exe)
    fixed = pe.VS_FIXEDFILEINFO[0]
    return (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
            fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF)


def stage(dist, files, strip, folder):
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    for name in files:
        target = os.path.join(folder, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        subprocess.run([strip, "--strip-all", "-o", target, os.path.join(dist, name)], check=True)
        shutil.copystat(os.path.join(dist, name), target)


def write_zip(folder, files, path):
    top = os.path.basename(folder)
    with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name in files:
            archive.write(os.path.join(folder, name), top + "/" + name)
    os.replace(path + ".part", path)


def nsis_files(files, path):
    """The layout as the installer's File lines and the uninstaller's Delete lines."""
    folders = sorted({os.path.dirname(name) for name in files})
    lines = ["!macro INSTALL_FILES"]
    for folder in folders:
        lines.append('    SetOutPath "%s"' % windows_path(folder))
        lines += ['    File "%s"' % name for name in files if os.path.dirname(name) == folder]
    lines.append('    SetOutPath "$INSTDIR"')
    lines += ["!macroend", "!macro UNINSTALL_FILES"]
    lines += ['    Delete "%s"' % windows_path(name) for name in files]
    lines += ['    RMDir "%s"' % windows_path(folder) for folder in reversed(folders) if folder]
    lines.append("!macroend")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def windows_path(name):
    return "$INSTDIR" + "".join("\\" + part for part in name.split("/") if part)


def main():
    ap = argparse.ArgumentParser(description="Zip and installer of one installed layout.")
    ap.add_argument("--dist", required=True)
    ap.add_argument("--bits", required=True, choices=("64", "32"))
    ap.add_argument("--strip", required=True)
    ap.add_argument("--makensis", required=True)
    ap.add_argument("--icon", required=True)
    ap.add_argument("--out", required=True)
    args = ap.parse_args()

    files = layout(args.bits)
    have = files_under(args.dist)
    if have != sorted(files):
        sys.exit("package: %s holds %s, expected %s" % (args.dist, have, sorted(files)))
    v = product_version(os.path.join(args.dist, files[0]))
    version, version4 = "%d.%d.%d" % v[:3], "%d.%d.%d.%d" % v
    base = "Orvantis-%s-win%s" % (version, args.bits)
    os.makedirs(args.out, exist_ok=True)
    folder = os.path.join(args.out, base)
    stage(args.dist, files, args.strip, folder)
    zip_path = os.path.join(args.out, base + ".zip")
    write_zip(folder, files, zip_path)

    include = os.path.join(args.out, base + "-files.nsh")
    nsis_files(files, include)
    installed = sum(os.path.getsize(os.path.join(folder, name)) for name in files)
    setup = os.path.join(args.out, base + "-setup.exe")
    defines = {"BITS": args.bits, "VERSION": version, "VERSION4": version4,
               "STAGE": folder, "FILES": include, "ICON": os.path.abspath(args.icon),
               "SIZE_KB": str((installed + 1023) // 1024), "OUTFILE": setup}
    subprocess.run([args.makensis, "-V2", "-NOCD"] + ["-D%s=%s" % kv for kv in defines.items()]
                   + [NSIS_SCRIPT], check=True, cwd=folder)

    print("package: win%s %s" % (args.bits, version4))
    for name in files:
        print("  %9d  %s" % (os.path.getsize(os.path.join(folder, name)), name))
    print("  %9d  installed layout (stripped)" % installed)
    print("  %9d  %s" % (os.path.getsize(zip_path), zip_path))
    print("  %9d  %s" % (os.path.getsize(setup), setup))


if __name__ == "__main__":
    main()
