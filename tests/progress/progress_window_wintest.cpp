// The progress dialog and the gauge against the real window system (Wine). The test program links
// the launcher's resources, so dialog 101 is the one the launcher ships.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "launcher/launcher_state.h"
#include "progress/progress_report.h"
#include "progress/progress_window.h"

namespace {
class ProgressWindow : public testing::Test {
 protected:
  void SetUp() override {
    ResetLauncherState();
    g_state.instance = GetModuleHandleA(nullptr);
    RegisterGaugeClass();
    RegisterDialogClass();
  }
  void TearDown() override {
    if (g_state.dialog && IsWindow(g_state.dialog)) DestroyWindow(g_state.dialog);
    if (host_) DestroyWindow(host_);
    ResetLauncherState();
  }

  // A gauge (control 1002) alone in a popup standing in for the dialog, client width as asked.
  HWND MakeGauge(int clientWidth, int clientHeight) {
    host_ = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr,
                            g_state.instance, nullptr);
    const int border = GetSystemMetrics(SM_CXBORDER);
    HWND gauge =
        CreateWindowExA(0, kGaugeClassName, "", WS_CHILD | WS_VISIBLE, 10, 10,
                        clientWidth + 2 * border, clientHeight + 2 * border, host_,
                        reinterpret_cast<HMENU>(kGaugeControlId), g_state.instance, nullptr);
    g_state.dialog = host_;
    return gauge;
  }

  HWND host_ = nullptr;
};

TEST_F(ProgressWindow, ClassesAreRegisteredWithTheirFields) {
  WNDCLASSA dialog = {};
  ASSERT_TRUE(GetClassInfoA(g_state.instance, kDialogClassName, &dialog));
  EXPECT_EQ(dialog.style, static_cast<UINT>(CS_BYTEALIGNWINDOW | CS_SAVEBITS | CS_DBLCLKS));
  EXPECT_EQ(dialog.cbClsExtra, 0);
  EXPECT_EQ(dialog.cbWndExtra, DLGWINDOWEXTRA);
  EXPECT_EQ(dialog.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(dialog.hIcon, nullptr);
  EXPECT_EQ(dialog.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));

  WNDCLASSA gauge = {};
  ASSERT_TRUE(GetClassInfoA(g_state.instance, kGaugeClassName, &gauge));
  EXPECT_EQ(gauge.style, 0u);
  EXPECT_EQ(gauge.cbClsExtra, 0);
  EXPECT_EQ(gauge.cbWndExtra, 0);
  EXPECT_EQ(gauge.hCursor, nullptr);
  EXPECT_EQ(gauge.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
}

TEST_F(ProgressWindow, GaugeGainsABorderAndFitsItsWidthToWholeBlocks) {
  ASSERT_EQ(GetSystemMetrics(SM_CXBORDER), 1);
  HWND gauge = MakeGauge(261, 9);
  ASSERT_NE(gauge, nullptr);
  EXPECT_TRUE(GetWindowLongA(gauge, GWL_STYLE) & WS_BORDER);
  EXPECT_EQ(g_state.gaugeBlocks, 43);
  EXPECT_EQ(g_state.gaugeFilled, 0);
  RECT bounds, client;
  GetWindowRect(gauge, &bounds);
  GetClientRect(gauge, &client);
  EXPECT_EQ(bounds.right - bounds.left, 262);
  EXPECT_EQ(bounds.bottom - bounds.top, 11);  // the height stays
  EXPECT_EQ(client.right, 260);
  POINT origin = {0, 0};
  MapWindowPoints(gauge, host_, &origin, 1);
  EXPECT_EQ(origin.x, 11);  // the left edge stays
}

TEST_F(ProgressWindow, NarrowGaugeHoldsNoBlockAndNeverFills) {
  MakeGauge(7, 9);
  EXPECT_EQ(g_state.gaugeBlocks, 0);
  SetProgress(100);
  EXPECT_EQ(g_state.gaugeFilled, 0);
}

TEST_F(ProgressWindow, ProgressOnlyEverAddsBlocksAndPaintsAtOnce) {
  HWND gauge = MakeGauge(261, 9);
  ShowWindow(host_, SW_SHOWNA);
  UpdateWindow(host_);
  struct Step {
    unsigned percent;
    int filled;
  };
  const Step steps[] = {{0, 0}, {2, 0}, {3, 1}, {50, 21}, {49, 21}, {0, 21}, {100, 43}, {150, 43}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.percent);
    SetProgress(step.percent);
    EXPECT_EQ(g_state.gaugeFilled, step.filled);
    RECT pending;
    EXPECT_FALSE(GetUpdateRect(gauge, &pending, FALSE)) << "the repaint happened before return";
  }
}

TEST_F(ProgressWindow, SilentModeChangesNothing) {
  MakeGauge(261, 9);
  g_state.silentMode = 1;
  SetProgress(100);
  EXPECT_EQ(g_state.gaugeFilled, 0);
}

TEST_F(ProgressWindow, DialogIsBuiltFromTheTemplateAndCentred) {
  CreateProgressDialog();
  HWND dialog = g_state.dialog;
  ASSERT_NE(dialog, nullptr);
  char name[64] = {};
  GetClassNameA(dialog, name, sizeof name);
  EXPECT_STREQ(name, kDialogClassName);
  const DWORD style = GetWindowLongA(dialog, GWL_STYLE);
  for (DWORD bit : {DWORD{WS_POPUP}, DWORD{WS_VISIBLE}, DWORD{WS_CAPTION}, DWORD{WS_SYSMENU},
                    DWORD{DS_MODALFRAME}}) {
    EXPECT_EQ(style & bit, bit) << std::hex << bit;
  }
  EXPECT_FALSE(style & WS_CHILD);

  RECT bounds;
  GetWindowRect(dialog, &bounds);
  EXPECT_EQ(bounds.left, (GetSystemMetrics(SM_CXSCREEN) - (bounds.right - bounds.left)) / 2);
  EXPECT_EQ(bounds.top, (GetSystemMetrics(SM_CYSCREEN) - (bounds.bottom - bounds.top)) / 2);

  HWND status = GetDlgItem(dialog, kStatusControlId);
  HWND gauge = GetDlgItem(dialog, kGaugeControlId);
  ASSERT_NE(status, nullptr);
  ASSERT_NE(gauge, nullptr);
  GetClassNameA(gauge, name, sizeof name);
  EXPECT_STREQ(name, kGaugeClassName);
  EXPECT_GT(g_state.gaugeBlocks, 0);
  RECT client;
  GetClientRect(gauge, &client);
  EXPECT_EQ(client.right, g_state.gaugeBlocks * 6 + 2);
}

TEST_F(ProgressWindow, StatusTextReplacesTheWholeLine) {
  CreateProgressDialog();
  HWND status = GetDlgItem(g_state.dialog, kStatusControlId);
  char text[128] = {};
  for (const char* line : {"\xd5\xfd\xd4\xda\xbd\xe2\xb0\xfcSETUP.EXE", "A", ""}) {
    SetStatusText(line);
    GetWindowTextA(status, text, sizeof text);
    EXPECT_STREQ(text, line);
  }
  g_state.silentMode = 1;
  SetStatusText("ignored");
  GetWindowTextA(status, text, sizeof text);
  EXPECT_STREQ(text, "");
}

TEST_F(ProgressWindow, AnyCommandDestroysTheDialogAndLaterUpdatesAreHarmless) {
  for (WPARAM command : {WPARAM{IDCANCEL}, WPARAM{IDOK}, WPARAM{4711}}) {
    SCOPED_TRACE(command);
    CreateProgressDialog();
    HWND dialog = g_state.dialog;
    ASSERT_TRUE(IsWindow(dialog));
    SendMessageA(dialog, WM_COMMAND, command, 0);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(g_state.dialog, dialog) << "the handle is kept";
    SetStatusText("after");
    SetProgress(100);
    EXPECT_EQ(g_state.gaugeFilled, g_state.gaugeBlocks);
  }
}

TEST_F(ProgressWindow, WithoutItsClassNoDialogIsCreatedAndUpdatesDoNothing) {
  ASSERT_TRUE(UnregisterClassA(kDialogClassName, g_state.instance));
  CreateProgressDialog();
  EXPECT_EQ(g_state.dialog, nullptr);
  SetStatusText("nothing");
  SetProgress(100);
  EXPECT_EQ(g_state.gaugeFilled, 0);
  RegisterDialogClass();
}
}  // namespace
