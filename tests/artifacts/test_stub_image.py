"""The stub of either architecture as Windows would load it: the right kind of image, a GUI
program, sections that are sound, imports only from DLLs that Windows always loads from its own
directory, and within the size budget with all its resources."""
import re
import subprocess

from check_imports import KNOWN_DLLS, imports
from conftest import TRIPLES
from pe_resources import PE32, PE32_PLUS, read_headers

KIND = {"x86": (PE32, 0x14C), "x64": (PE32_PLUS, 0x8664)}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
SCN_EXECUTE, SCN_WRITE = 0x20000000, 0x80000000
STUB_BUDGET = 64 * 1024  # with the decoder built for speed; publishers pick a launcher by its size


def test_stub_is_a_gui_image_of_its_architecture_with_sound_sections(arch, stub):
    data = stub.read_bytes()
    h = read_headers(data)
    assert (h["magic"], h["machine"]) == KIND[arch]
    assert h["subsystem"] == IMAGE_SUBSYSTEM_WINDOWS_GUI
    assert h["characteristics"] & IMAGE_FILE_EXECUTABLE_IMAGE
    assert ".rsrc" in [s[0] for s in h["sections"]]
    for name, vsize, vaddr, rawsize, rawptr, flags in h["sections"]:
        assert rawptr + rawsize <= len(data), name
        assert not (flags & SCN_EXECUTE and flags & SCN_WRITE), f"{name} is writable code"
    assert h["directories"][4] == (0, 0)  # unsigned: publishers sign the built installer


def test_stub_fits_its_budget(stub):
    assert stub.stat().st_size <= STUB_BUDGET, f"{stub}: {stub.stat().st_size} bytes"


def test_stub_imports_only_known_dlls(arch, stub):
    found = imports(f"{TRIPLES[arch]}-objdump", stub)
    assert found and set(found) <= KNOWN_DLLS, found
    # advapi32: the work directory's security descriptor and the launcher's own token.
    assert set(found) == {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}


def test_resource_compiler_lists_icon_manifest_and_version(arch, stub):
    listing = subprocess.run([f"{TRIPLES[arch]}-windres", "-i", str(stub), "-O", "rc"],
                             check=True, capture_output=True, text=True).stdout
    # The manifest is stored on one line, which windres lists as numbers; its content is checked
    # through the PE reader in test_stub_resources.py.
    assert "RT_GROUP_ICON" in listing and "RT_MANIFEST" in listing
    assert 'VALUE "ProductName", "Quill"' in listing
    assert 'VALUE "FileVersion", "1.0.0.0"' in listing
    assert re.search(r'VALUE "FileDescription", "[^"]*Quill', listing)


def test_shipped_stub_has_no_test_trace_points(stub):
    assert b"QUILL_TRACE" not in stub.read_bytes()
