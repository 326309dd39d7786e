#!/usr/bin/env python3
"""Fails when a launcher executable imports a DLL that Windows might load from somewhere other
than its own system directory.

Imports are resolved before the launcher's first instruction, so its own DLL-search restriction
cannot protect them: only DLLs that the system always maps from System32 (its KnownDLLs) are safe
beside an installer in a download folder.
    check_imports.py OBJDUMP EXE...     (test_stub_image.py uses it as a module)
"""
import re
import subprocess
import sys

# DLLs listed under KnownDLLs on every supported Windows version.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll",
              "shell32.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll", "shlwapi.dll"}


def imports(objdump, exe):
    out = subprocess.run([objdump, "-p", str(exe)], check=True, capture_output=True, text=True).stdout
    return [m.lower() for m in re.findall(r"DLL Name: (\S+)", out)]


def main():
    objdump, exes = sys.argv[1], sys.argv[2:]
    bad = 0
    for exe in exes:
        found = imports(objdump, exe)
        if not found:
            print(f"{exe}: no import table found")
            bad = 1
        for dll in found:
            if dll not in KNOWN_DLLS:
                print(f"{exe}: imports {dll}, which the system may search for beside the program")
                bad = 1
        print(f"{exe}: imports {', '.join(found)}")
    return bad


if __name__ == "__main__":
    sys.exit(main())
