#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/format_name.h"
#include "launcher/launcher_state.h"
#include "launcher/messages.h"

namespace {
// The texts of the string table in GBK, as LoadStringA must hand them out under code page 936.
const char kUnpackingGbk[] = "\xD5\xFD\xD4\xDA\xBD\xE2\xB0\xFC%s";  // 正在解包%s
const char kStartingGbk[] =
    "\xD5\xFD\xD4\xDA\xC6\xF4\xB6\xAF\xB0\xB2\xD7\xB0\xB3\xCC\xD0\xF2...";  // 正在启动安装程序...
const char kCannotWriteGbk[] =
    "\xCE\xDE\xB7\xA8\xD0\xB4\xC8\xEB\xCE\xC4\xBC\xFE %s";                  // 无法写入文件 %s
const char kOutOfMemoryGbk[] = "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xA1";  // 内存不足！
const char kCorruptGbk[] =
    "\xBD\xE2\xD1\xB9\xCB\xF5\xB0\xFC\xB3\xF6\xB4\xED\xA3\xAC\xC7\xEB\xD6\xD8\xD0\xC2\xCF\xC2"
    "\xD4\xD8\xB0\xB2\xD7\xB0\xB0\xFC\xA1\xA3";  // 解压缩包出错，请重新下载安装包。

struct SeenBox {
  std::string text;
  bool warningIcon = false;
  bool found = false;
};

BOOL CALLBACK FindOwnBox(HWND window, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (pid != GetCurrentProcessId() || lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(window)) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

// Reads the first message box of this process as it appears, then presses OK.
DWORD WINAPI WatchForBox(void* param) {
  SeenBox* seen = static_cast<SeenBox*>(param);
  for (int i = 0; i < 500; ++i) {
    HWND box = nullptr;
    EnumWindows(FindOwnBox, reinterpret_cast<LPARAM>(&box));
    if (!box) {
      Sleep(20);
      continue;
    }
    char text[2048] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    seen->text = text;
    HWND icon = GetDlgItem(box, 1088);
    seen->warningIcon = icon && reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0)) ==
                                    LoadIconA(nullptr, IDI_WARNING);
    seen->found = true;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
  }
  return 0;
}

// Runs `show` (which opens one box and returns when it is closed) and reports the box.
template <typename Show>
SeenBox ShowAndRead(Show show) {
  SeenBox seen;
  HANDLE watcher = CreateThread(nullptr, 0, WatchForBox, &seen, 0, nullptr);
  show();
  WaitForSingleObject(watcher, 15000);
  CloseHandle(watcher);
  return seen;
}
}  // namespace

TEST(StringTable, LoadStringAGivesGbkUnderCodePage936) {
  ASSERT_EQ(GetACP(), 936u) << "run under scripts/wine-env.sh (LC_ALL=zh_CN.UTF-8)";
  const struct {
    unsigned id;
    const char* gbk;
  } strings[] = {{kStringUnpacking, kUnpackingGbk},
                 {kStringStartingSetup, kStartingGbk},
                 {kStringCannotWrite, kCannotWriteGbk},
                 {kStringOutOfMemory, kOutOfMemoryGbk},
                 {kStringCorrupt, kCorruptGbk}};
  for (const auto& s : strings) {
    char text[512] = {};
    const int length = LoadStringA(GetModuleHandleA(nullptr), s.id, text, sizeof text);
    EXPECT_EQ(length, lstrlenA(s.gbk)) << s.id;
    EXPECT_STREQ(text, s.gbk) << s.id;
  }
  // The table is stored in language 2052, in block 1 (ids 0 to 15).
  EXPECT_NE(FindResourceExA(nullptr, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(1),
                            MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)),
            nullptr);
}

TEST(ShowMessageById, ShowsTheStringWithTheWarningIcon) {
  g_state.instance = GetModuleHandleA(nullptr);
  for (const auto& [id, gbk] :
       {std::pair{kStringCorrupt, kCorruptGbk}, std::pair{kStringOutOfMemory, kOutOfMemoryGbk}}) {
    const SeenBox box = ShowAndRead([id] { ShowMessageById(id); });
    ASSERT_TRUE(box.found) << id;
    EXPECT_EQ(box.text, gbk);
    EXPECT_TRUE(box.warningIcon);
  }
}

TEST(ShowFormattedMessageById, PutsTheNameInAndCutsAt512BytesBetweenCharacters) {
  g_state.instance = GetModuleHandleA(nullptr);
  SeenBox box = ShowAndRead([] { ShowFormattedMessageById(kStringCannotWrite, "SETUP.EXE"); });
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, std::string("\xCE\xDE\xB7\xA8\xD0\xB4\xC8\xEB\xCE\xC4\xBC\xFE SETUP.EXE"));

  // 13 bytes of text, then "A" and double-byte characters: 248 of them end at byte 510, and the
  // 249th would need bytes 511 and 512 of a 512-byte buffer that must keep its terminator.
  std::string name = "A";
  for (int i = 0; i < 250; ++i) name += "\xCE\xC4";  // 文
  box = ShowAndRead([&name] { ShowFormattedMessageById(kStringCannotWrite, name.c_str()); });
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text.size(), 13u + 1 + 2 * 248);
  EXPECT_EQ(box.text.substr(13), name.substr(0, 1 + 2 * 248));
}

TEST(StatusLine, AnOverlongNameIsCutBetweenDoubleByteCharacters) {
  char format[4096] = {};
  LoadStringA(GetModuleHandleA(nullptr), kStringUnpacking, format, sizeof format);
  // 8 bytes of text, then 60 double-byte characters: 59 of them end at byte 126, and the 60th
  // would need byte 127, which the 128-byte status buffer keeps for its terminator.
  std::string name;
  for (int i = 0; i < 60; ++i) name += "\xCE\xC4";  // 文
  char status[128];
  EXPECT_EQ(FormatWithName(format, name.c_str(), status, sizeof status, IsAnsiLeadByte), 0);
  EXPECT_EQ(std::string(status),
            std::string("\xD5\xFD\xD4\xDA\xBD\xE2\xB0\xFC") + name.substr(0, 2 * 59));
}
