"""The publisher's options of `quillpack build`, read back from the installers of both
architectures through the PE reader: the icon, the version information, the execution level, the
faces carried; everything else of the stub byte for byte; and what is refused, with what message.
(tests/e2e/pack/test_publisher.py runs such an installer under Wine.)"""
import re
import struct
import subprocess

import pytest

from conftest import QUILLPACK, ROOT, BUILDS, quillpack
from pe_resources import read_resources
from test_stub_resources import (EN_US, RT_DIALOG, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_STRING,
                                 RT_VERSION, ZH_CN)

MAKE_ICON = ROOT / "samples" / "make_demo_icon.py"
FILES = {"SETUP.EXE": b"MZ setup", "data.bin": b"data" * 300}
OPTIONS = ["--icon", "{icon}", "--version-info", "CompanyName=Acme 有限公司",
           "--version-info", "LegalCopyright=(c) 2024 Acme", "--version-info", "ProductName=",
           "--file-version", "2.1.3.4", "--product-version", "2.1",
           "--execution-level", "asInvoker"]


@pytest.fixture(scope="module")
def icon(tmp_path_factory):
    path = tmp_path_factory.mktemp("icon") / "demo.ico"
    subprocess.run(["python3", str(MAKE_ICON), str(path)], check=True)
    return path


@pytest.fixture(scope="module")
def source(tmp_path_factory):
    src = tmp_path_factory.mktemp("source")
    for name, content in FILES.items():
        (src / name).write_bytes(content)
    return src


def build(arch, source, out, *options):
    r = quillpack("build", "-q", "--arch", arch, "-o", out, *options, source, check=False)
    assert r.returncode == 0, r.stderr
    return read_resources(out)


@pytest.fixture(scope="module")
def published(arch, icon, source, tmp_path_factory):
    out = tmp_path_factory.mktemp(f"published-{arch}") / "setup.exe"
    return out, build(arch, source, out, *(o.format(icon=icon) for o in OPTIONS))


def ico_entries(data):
    """(directory fields without the offset, image bytes) for each image of an .ico."""
    count = struct.unpack_from("<H", data, 4)[0]
    out = []
    for i in range(count):
        *fields, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        out.append(((*fields, size), data[offset:offset + size]))
    return out


def group_entries(group, icons):
    kind, count = struct.unpack_from("<HH", group, 2)
    assert kind == 1
    out = []
    for i in range(count):
        *fields, size, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        out.append(((*fields, size), icons[image_id]))
    return out


def version_tree(raw, at=0):
    """A version resource as (key, value bytes, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", raw, at)
    end, p, key = at + length, at + 6, ""
    while struct.unpack_from("<H", raw, p)[0]:
        key += chr(struct.unpack_from("<H", raw, p)[0])
        p += 2
    p = (p + 5) & ~3
    size = value_length * 2 if kind == 1 else value_length
    value, p = raw[p:p + size], (p + size + 3) & ~3
    children = []
    while p < end:
        children.append(version_tree(raw, p))
        p = (p + struct.unpack_from("<H", raw, p)[0] + 3) & ~3
    return key, value, children


def version_strings(raw):
    key, fixed, children = version_tree(raw)
    (tables,) = [c for k, _, c in children if k == "StringFileInfo"]
    return fixed, {table: {k: v.decode("utf-16-le").rstrip("\0") for k, v, _ in strings}
                   for table, _, strings in tables}


def the_one(by_language):
    (value,) = by_language.values()
    return value


def test_icon_group_and_images_are_those_of_the_ico(published, icon):
    _, res = published
    group = the_one(res[RT_GROUP_ICON][1])
    icons = {i: the_one(by_language) for i, by_language in res[RT_ICON].items()}
    assert group_entries(group, icons) == ico_entries(icon.read_bytes())
    assert len(icons) == len(ico_entries(icon.read_bytes()))  # the stub's images are gone


def test_version_information_has_the_numbers_and_texts_given(published, stub):
    _, res = published
    fixed, tables = version_strings(the_one(res[RT_VERSION][1]))
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)
    assert (file_ms, file_ls, product_ms, product_ls) == (0x20001, 0x30004, 0x20001, 0)
    _, stub_tables = version_strings(the_one(read_resources(stub)[RT_VERSION][1]))
    assert tables == {"080404b0": {
        "FileDescription": stub_tables["080404b0"]["FileDescription"],  # not given: the stub's
        "FileVersion": "2.1.3.4", "ProductVersion": "2.1.0.0",
        "CompanyName": "Acme 有限公司", "LegalCopyright": "(c) 2024 Acme"}}


def test_manifest_changes_in_its_level_alone(published, stub):
    _, res = published
    manifest = the_one(res[RT_MANIFEST][1])
    original = the_one(read_resources(stub)[RT_MANIFEST][1])
    assert b'level="asInvoker"' in manifest
    assert manifest.replace(b'"asInvoker"', b'"requireAdministrator"') == original


def test_everything_else_is_the_stubs_byte_for_byte(published, stub):
    _, res = published
    for type_, by_name in read_resources(stub).items():
        if type_ in (RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST):
            continue
        assert res[type_] == by_name, type_


def test_signed_installer_with_every_option_verifies(arch, published, tmp_path):
    exe, _ = published
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Acme", "-keyout", key, "-out", cert], check=True,
                   capture_output=True)
    signed = tmp_path / "signed.exe"
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                    "-in", exe, "-out", signed], check=True, capture_output=True)
    check = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                           capture_output=True, text=True)
    assert "Signature verification: ok" in check.stdout, check.stdout + check.stderr
    assert read_resources(signed) == published[1]


def test_without_options_every_resource_is_the_stubs(arch, stub, source, tmp_path):
    # The numbers the stub has already, given again, write its version resource back unchanged.
    res = build(arch, source, tmp_path / "plain.exe", "--file-version", "1.0.0.0",
                "--execution-level", "requireAdministrator")
    del res["FILE"]
    assert res == read_resources(stub)


@pytest.mark.parametrize("language, faces, others", [
    ("both", [EN_US, ZH_CN], ZH_CN),
    ("zh-CN", [ZH_CN], ZH_CN),
    ("en-US", [EN_US], EN_US),
])
def test_language_keeps_the_faces_asked_for(arch, stub, source, tmp_path, language, faces, others):
    res = build(arch, source, tmp_path / "o.exe", "--language", language)
    original = read_resources(stub)
    for type_, by_name in res.items():
        for name, by_language in by_name.items():
            if type_ == "FILE":
                assert list(by_language) == [EN_US]
            elif type_ in (RT_STRING, RT_DIALOG):
                assert list(by_language) == faces
                assert all(by_language[f] == original[type_][name][f] for f in faces)
            else:
                assert list(by_language) == [others], (type_, name)
    fixed, tables = version_strings(the_one(res[RT_VERSION][1]))
    assert list(tables) == ["040904b0" if others == EN_US else "080404b0"]


REFUSALS = [
    (["--icon", "{bad_icon}"], 1, "{bad_icon}: image 1 (32x32): its 744 bytes at offset 38 are "
                                  "not all in the file"),
    (["--icon", "{missing}"], 1, "{missing}: cannot open it"),
    (["--file-version", "1.2.3.65536"], 2, '--file-version takes a version A.B.C.D'),
    (["--product-version", "v2"], 2, '(not "v2")'),
    (["--version-info", "NoEquals"], 2, "--version-info takes KEY=VALUE"),
    (["--version-info", "companyName=x"], 2, "companyName is spelt CompanyName"),
    (["--execution-level", "admin"], 2, "--execution-level takes requireAdministrator, "
                                        "highestAvailable or asInvoker"),
    (["--language", "fr-FR"], 2, "--language takes zh-CN, en-US or both"),
    (["--language", "en-US", "--stub", "{zh_only}"], 1, "carries no English face"),
]


@pytest.mark.parametrize("options, code, complaint", REFUSALS)
def test_refusals_name_the_problem_and_write_nothing(arch, source, stub, tmp_path, options, code,
                                                      complaint):
    bad_icon = tmp_path / "cut.ico"
    bad_icon.write_bytes((ROOT / "build" / "win32" / "resources" / "quill.ico").read_bytes()[:700])
    zh_only = tmp_path / "zh.exe"
    build(arch, source, zh_only, "--language", "zh-CN")
    names = dict(bad_icon=bad_icon, missing=tmp_path / "missing.ico", zh_only=zh_only)
    out = tmp_path / "o.exe"
    r = quillpack("build", "--arch", arch, "-o", out, *(o.format(**names) for o in options),
                  source, check=False)
    assert r.returncode == code
    assert complaint.format(**names) in r.stderr
    assert r.stderr.count(str(names["missing"])) <= 1  # a missing file is named once
    assert not out.exists()


def test_a_package_without_a_setup_program_needs_no_setup(tmp_path):
    (tmp_path / "src" / "bin").mkdir(parents=True)
    (tmp_path / "src" / "bin" / "setup.exe").write_bytes(b"MZ")
    out = tmp_path / "o.exe"
    r = quillpack("build", "-o", out, tmp_path / "src", check=False)
    assert r.returncode == 1 and not out.exists()
    assert "no SETUP.EXE (nor UNINSTALL.EXE) at its top level" in r.stderr
    assert "BIN\\SETUP.EXE lies in a subdirectory" in r.stderr
    assert quillpack("build", "-q", "--no-setup", "-o", out, tmp_path / "src").returncode == 0
    (tmp_path / "src" / "uninstall.exe").write_bytes(b"MZ")
    assert quillpack("build", "-q", "-o", out, tmp_path / "src").returncode == 0


def test_version_names_both_stubs_and_liblzma():
    lines = quillpack("--version").stdout.splitlines()
    assert re.fullmatch(r"quillpack \d+\.\d+\.\d+", lines[0])
    for arch, build_dir in BUILDS.items():
        size = (build_dir / "quillstub.exe").stat().st_size
        revision = (build_dir / "liblzma" / "xz-utils-revision").read_text().strip()
        assert f"{arch} stub: {size} bytes, liblzma from Debian's xz-utils {revision}" in lines
    # quillpack's own liblzma comes from the same revision as the stubs'.
    upstream = revision.split("-")[0]
    assert lines[-1] == f"compression: liblzma {upstream} from Debian's xz-utils {revision}"


@pytest.mark.parametrize("size, shown", [(300, "300 bytes"), (3000, "2.9 KiB"),
                                         (3 << 20, "3.0 MiB")])
def test_summary_gives_sizes_in_units_that_fit(tmp_path, size, shown):
    (tmp_path / "SETUP.EXE").write_bytes(bytes(size))
    r = quillpack("build", "-j", "1", "-o", tmp_path / "o.exe", tmp_path / "SETUP.EXE")
    assert f"1 entry, {shown} packed into " in r.stderr
    # No size rounded away to nothing ("10.0 MiB/s" is a speed, not a size of 0.0 MiB).
    assert not re.search(r"(?<![\d.])0\.0 MiB", r.stderr) and r.stderr.endswith("\n")
