"""Reads the resources of a PE executable (type -> name -> language -> bytes) and decodes the
classic dialog template, so that tests see what the executable really carries."""
import struct


PE32, PE32_PLUS = 0x10B, 0x20B


def read_headers(data):
    """The headers of a PE32 or PE32+ image: magic, machine, subsystem, data directories and
    sections (name, virtual size, virtual address, raw size, raw pointer, characteristics)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    machine, count = struct.unpack_from("<HH", data, pe + 4)
    optional_size, characteristics = struct.unpack_from("<HH", data, pe + 20)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    assert magic in (PE32, PE32_PLUS)
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    directories_at = optional + (96 if magic == PE32 else 112)
    directories = [struct.unpack_from("<II", data, directories_at + 8 * i) for i in range(16)]
    table = optional + optional_size
    sections = [struct.unpack_from("<8sIIII12xI", data, table + 40 * i) for i in range(count)]
    return dict(magic=magic, machine=machine, characteristics=characteristics,
                subsystem=subsystem, directories=directories,
                sections=[(name.rstrip(b"\0").decode(), *rest) for name, *rest in sections])


def read_resources(path):
    data = open(path, "rb").read()
    headers = read_headers(data)
    resource_rva = headers["directories"][2][0]
    spans = [(vaddr, max(vsize, rawsize), rawptr)
             for _, vsize, vaddr, rawsize, rawptr, _ in headers["sections"]]

    def offset(rva):
        for vaddr, size, rawptr in spans:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + rawptr
        raise ValueError(f"RVA {rva:#x} outside every section")

    base = offset(resource_rva)

    def name_of(field):
        if field & 0x80000000:
            at = base + (field & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, at)[0]
            return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return field

    def directory(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        for i in range(named + ids):
            field, target = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
            yield name_of(field), target

    out = {}
    for type_, t in directory(0):
        for name, n in directory(t & 0x7FFFFFFF):
            for lang, leaf in directory(n & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                at = offset(rva)
                out.setdefault(type_, {}).setdefault(name, {})[lang] = data[at:at + size]
    return out


def _sz_or_ord(raw, at):
    """A name-or-ordinal field of a dialog template: (value, next offset)."""
    first = struct.unpack_from("<H", raw, at)[0]
    if first == 0xFFFF:
        return ("ordinal", struct.unpack_from("<H", raw, at + 2)[0]), at + 4
    end = at
    while struct.unpack_from("<H", raw, end)[0] != 0:
        end += 2
    return raw[at:end].decode("utf-16-le"), end + 2


def parse_dialog(raw):
    """A classic (DLGTEMPLATE) dialog template as a dict; fails on the extended format."""
    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", raw, 0)
    assert struct.unpack_from("<HH", raw, 0)[1] != 0xFFFF, "not an extended template"
    at = 18
    menu, at = _sz_or_ord(raw, at)
    klass, at = _sz_or_ord(raw, at)
    caption, at = _sz_or_ord(raw, at)
    point_size = face = None
    if style & 0x40:  # DS_SETFONT
        point_size = struct.unpack_from("<H", raw, at)[0]
        face, at = _sz_or_ord(raw, at + 2)
    controls = []
    for _ in range(count):
        at = (at + 3) & ~3
        cstyle, cexstyle, cxp, cyp, ccx, ccy, cid = struct.unpack_from("<IIhhhhH", raw, at)
        at += 18
        cclass, at = _sz_or_ord(raw, at)
        text, at = _sz_or_ord(raw, at)
        extra = struct.unpack_from("<H", raw, at)[0]
        at += 2 + extra
        controls.append(dict(id=cid, cls=cclass, style=cstyle, exstyle=cexstyle,
                             rect=(cxp, cyp, ccx, ccy), text=text))
    return dict(style=style, exstyle=exstyle, rect=(x, y, cx, cy), menu=menu, cls=klass,
                caption=caption, point_size=point_size, face=face, controls=controls)
