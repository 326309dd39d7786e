"""scripts/fetch-xz-source.sh against a local Debian repository: the source of liblzma still comes
when the mirror serves a broken binary index, and a revision that lacks a fix of a newer listed
one is refused, not used quietly."""
import email.utils
import hashlib
import os
import pathlib
import pwd
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
FETCH = ROOT / "scripts" / "fetch-xz-source.sh"
SUMS = ROOT / "cmake" / "xz-utils.sha256"


def pinned():
    """The pinned revision, its advisories and its files (name -> sha256) as listed."""
    revision, fixes, files = None, [], {}
    for line in SUMS.read_text().splitlines():
        words = line.split()
        if not words or words[0].startswith("#") or words[0] == "source":
            continue
        if words[0] == "revision":
            if revision:
                break
            revision = words[1]
        elif words[0] == "fixes":
            fixes = words[1:]
        else:
            files[words[1]] = words[0]
    return revision, fixes, files


def fetch(env, sums=SUMS):
    return subprocess.run([str(FETCH)], capture_output=True, text=True, timeout=300,
                          env={**os.environ, "QUILL_XZ_SUMS": str(sums), **env})


@pytest.fixture(scope="module")
def source_files(tmp_path_factory):
    """The pinned revision's files, from the project's own cache (the build fetched them)."""
    done = fetch({})
    assert done.returncode == 0, done.stderr
    _, folder = done.stdout.split()
    revision, _, files = pinned()
    return revision, {name: pathlib.Path(folder, name) for name in files}


def stanza(files):
    lines = ["Files:"] + [f" {hashlib.md5(p.read_bytes()).hexdigest()} {p.stat().st_size} {n}"
                          for n, p in files.items()]
    lines += ["Checksums-Sha256:"] + [f" {hashlib.sha256(p.read_bytes()).hexdigest()} "
                                      f"{p.stat().st_size} {n}" for n, p in files.items()]
    return lines


@pytest.fixture
def mirror(tmp_path, source_files):
    """A repository of one suite whose source index is sound and whose i386 binary index is not
    what its Release file says, as a mirror caught mid-sync serves it."""
    revision, files = source_files
    repo = tmp_path / "repo"
    pool = repo / "pool" / "main" / "x" / "xz-utils"
    pool.mkdir(parents=True)
    for name, path in files.items():
        shutil.copy(path, pool / name)
    dist = repo / "dists" / "trixie"
    sources = "\n".join(["Package: xz-utils", "Binary: xz-utils", f"Version: {revision}",
                         "Architecture: any", "Format: 3.0 (quilt)",
                         "Directory: pool/main/x/xz-utils", *stanza(files)]) + "\n"
    (dist / "main" / "source").mkdir(parents=True)
    (dist / "main" / "source" / "Sources").write_text(sources)
    (dist / "main" / "binary-i386").mkdir(parents=True)
    packages = dist / "main" / "binary-i386" / "Packages"
    packages.write_text("Package: half-synced\n")
    listed = [("main/source/Sources", sources.encode()),
              ("main/binary-i386/Packages", b"Package: half-synced\nVersion: 2\n")]
    release = ["Origin: Quill test", "Suite: trixie", "Codename: trixie", "Architectures: i386",
               "Components: main", f"Date: {email.utils.formatdate(usegmt=True)}", "SHA256:"]
    release += [f" {hashlib.sha256(data).hexdigest()} {len(data)} {name}" for name, data in listed]
    (dist / "Release").write_text("\n".join(release) + "\n")
    return repo


def test_the_source_comes_although_a_binary_index_is_broken(tmp_path, mirror, source_files):
    revision, _ = source_files
    # The system's way, deb and deb-src in one configuration: the broken binary index fails the
    # suite's update, and apt keeps none of its indexes, the sound source index included.
    apt = tmp_path / "apt"
    (apt / "lists" / "partial").mkdir(parents=True)
    (apt / "sources.list").write_text(f"deb [trusted=yes arch=i386] file:{mirror} trixie main\n"
                                      f"deb-src [trusted=yes] file:{mirror} trixie main\n")
    options = [f"-oDir::Etc::SourceList={apt}/sources.list", f"-oDir::Etc::SourceParts={apt}/none",
               f"-oDir::State::Lists={apt}/lists", f"-oDir::Cache={apt}", "-oDebug::NoLocking=1",
               f"-oAPT::Sandbox::User={pwd.getpwuid(os.getuid()).pw_name}"]
    update = subprocess.run(["apt-get", *options, "update"], capture_output=True, text=True,
                            timeout=120)
    assert "unexpected size" in update.stderr or "Hash Sum mismatch" in update.stderr, update.stderr
    shown = subprocess.run(["apt-cache", *options, "showsrc", "xz-utils"], capture_output=True,
                           text=True, timeout=60)
    assert f"Version: {revision}" not in shown.stdout

    done = fetch({"QUILL_CACHE": str(tmp_path / "cache"),
                  "QUILL_XZ_APT_SOURCES": f"deb-src [trusted=yes] file:{mirror} trixie main"})
    assert done.returncode == 0, done.stderr
    assert done.stdout.split()[0] == revision
    assert done.stderr == ""  # the pinned revision: nothing to report
    cached = tmp_path / "cache" / "xz-utils"
    for name, path in source_files[1].items():
        assert (cached / name).read_bytes() == path.read_bytes()


def test_a_revision_that_lacks_a_newer_ones_fix_is_refused_unless_accepted(tmp_path, mirror,
                                                                           source_files):
    revision, fixes, files = pinned()
    newer = revision + "+quill9"
    sums = tmp_path / "sums"
    sums.write_text(f"revision {newer}\nfixes {' '.join(fixes)} GHSA-test-only-fix\n"
                    f"{'0' * 64}  xz-utils_{newer}.dsc\n"
                    f"revision {revision}\nfixes {' '.join(fixes)}\n" +
                    "".join(f"{digest}  {name}\n" for name, digest in files.items()))
    env = {"QUILL_CACHE": str(tmp_path / "cache"),
           "QUILL_XZ_APT_SOURCES": f"deb-src [trusted=yes] file:{mirror} trixie main"}

    refused = fetch(env, sums)
    assert refused.returncode != 0 and refused.stdout == ""
    assert f"refusing xz-utils {revision}" in refused.stderr
    assert "GHSA-test-only-fix" in refused.stderr and newer in refused.stderr
    assert f"QUILL_XZ_ACCEPT={revision}" in refused.stderr

    accepted = fetch({**env, "QUILL_XZ_ACCEPT": revision}, sums)
    assert accepted.returncode == 0, accepted.stderr
    assert accepted.stdout.split()[0] == revision
    assert f"not the pinned {newer}" in accepted.stderr  # taken, and said so
