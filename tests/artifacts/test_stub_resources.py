"""What the shipped stub of either architecture carries besides code: dialog 101 in the classic format, the icon group,
the application manifest and the version record, all in language 2052 (Chinese, Simplified); and the
English face beside the Chinese one: the string table and dialog 101 again in language 1033, which
Windows picks on every system whose user interface is not Chinese."""
import re
import struct

import pytest

from pe_resources import parse_dialog, read_resources

ZH_CN, EN_US = 2052, 1033
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24


@pytest.fixture(scope="module")
def resources(stub):
    return read_resources(stub)


def test_every_resource_is_in_chinese_simplified_and_the_texts_also_in_english(resources):
    assert set(resources) == {RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST}
    for type_, by_name in resources.items():
        for by_language in by_name.values():
            faces = [EN_US, ZH_CN] if type_ in (RT_STRING, RT_DIALOG) else [ZH_CN]
            assert list(by_language) == faces


def string_table(block):
    """The texts of one string-table block: id -> text."""
    texts, at = {}, 0
    for i in range(16):
        length = struct.unpack_from("<H", block, at)[0]
        if length:
            texts[i] = block[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        at += 2 + 2 * length
    return texts


def test_string_tables_hold_the_texts_exactly(resources):
    assert string_table(resources[RT_STRING][1][ZH_CN]) == {
        2: "正在解包%s", 3: "正在启动安装程序...", 4: "无法写入文件 %s", 6: "内存不足！",
        7: "解压缩包出错，请重新下载安装包。"}
    assert string_table(resources[RT_STRING][1][EN_US]) == {
        2: "Unpacking %s", 3: "Starting the setup program...", 4: "Cannot write file %s",
        6: "Out of memory!", 7: "The package is damaged. Please download the installer again."}


def test_dialog_template_is_classic_and_exact(resources):
    dialog = parse_dialog(resources[RT_DIALOG][101][ZH_CN])
    assert dialog == dict(
        style=0x90C800C0, exstyle=0, rect=(0, 0, 193, 61), menu="", cls="QuillExtracting",
        caption="正在解包...", point_size=9, face="宋体",
        controls=[
            dict(id=1001, cls=("ordinal", 0x82), style=0x50020000, exstyle=0,
                 rect=(9, 13, 159, 8), text=""),
            dict(id=1002, cls="MossGauge", style=0x50000000, exstyle=0, rect=(9, 31, 175, 11),
                 text=""),
        ])
    # The English dialog differs only in its caption and in a font every Windows has.
    english = parse_dialog(resources[RT_DIALOG][101][EN_US])
    assert english == dict(dialog, caption="Unpacking...", point_size=8, face="MS Shell Dlg")


def test_icon_group_has_a_32_and_a_16_pixel_image_in_16_colours(resources):
    group = resources[RT_GROUP_ICON][1][ZH_CN]
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    assert (kind, count) == (1, 2)
    sizes = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * i)
        assert (colours, planes, bits) == (16, 1, 4)
        image = resources[RT_ICON][image_id][ZH_CN]
        assert len(image) == size
        header_size, w, h2, _, image_bits = struct.unpack_from("<IiiHH", image, 0)
        assert (header_size, w, h2, image_bits) == (40, width, 2 * height, 4)
        sizes.append((width, height))
    assert sizes == [(32, 32), (16, 16)]


def test_manifest_asks_for_administrator_rights_and_common_controls_6(resources):
    (manifest,) = resources[RT_MANIFEST].values()
    text = manifest[ZH_CN].decode("utf-8")
    identity = re.search(r"<assemblyIdentity ([^>]*)/>", text).group(1)
    assert 'name="mossinstall"' in identity and 'version="1.0.0.0"' in identity
    assert 'processorArchitecture="*"' in identity and 'type="win32"' in identity
    assert re.search(r"<description>[^<]*Quill[^<]*</description>", text)
    dependency = re.search(r"<dependentAssembly>\s*<assemblyIdentity ([^>]*)/>", text).group(1)
    for attribute in ('name="Microsoft.Windows.Common-Controls"', 'version="6.0.0.0"',
                      'publicKeyToken="6595b64144ccf1df"', 'language="*"',
                      'processorArchitecture="*"', 'type="win32"'):
        assert attribute in dependency
    assert re.search(r'<requestedExecutionLevel\s+level="requireAdministrator"\s+'
                     r'uiAccess="false"\s*/>', text)
