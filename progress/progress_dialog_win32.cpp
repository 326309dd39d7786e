// The progress dialog: a modeless popup with the status line and the gauge. The launcher runs no
// message loop; the dialog paints at creation, on the synchronous updates, and inside the modal
// loop of a message box.
#include <windows.h>

#include "launcher/launcher_state.h"
#include "progress/dialog_geometry.h"
#include "progress/progress_report.h"
#include "progress/progress_trace.h"
#include "progress/progress_window.h"

namespace {
// Moves the window to the middle of the primary screen, before it is first shown.
void CenterWindow(HWND window) {
  RECT bounds;
  GetWindowRect(window, &bounds);
  const int x = CenteredOffset(GetSystemMetrics(SM_CXSCREEN), bounds.right - bounds.left);
  const int y = CenteredOffset(GetSystemMetrics(SM_CYSCREEN), bounds.bottom - bounds.top);
  SetWindowPos(window, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK ExtractDlgProc(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      CenterWindow(window);
      return 0;
    case WM_COMMAND:
      // Only the close box or the system menu sends one (IDCANCEL): the user closed the dialog.
      DestroyWindow(window);
      return 1;
    default:
      return 0;
  }
}
}  // namespace

void RegisterDialogClass() {
  WNDCLASSA dialogClass = {};
  dialogClass.style = CS_BYTEALIGNWINDOW | CS_SAVEBITS | CS_DBLCLKS;
  dialogClass.lpfnWndProc = DefDlgProcA;
  dialogClass.cbWndExtra = DLGWINDOWEXTRA;
  dialogClass.hInstance = g_state.instance;
  dialogClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  // A class brush may be a system colour index plus one; Win32 takes it in the handle field.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  dialogClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  dialogClass.lpszClassName = kDialogClassName;
  RegisterClassA(&dialogClass);
}

void CreateProgressDialog() {
  g_state.dialog = CreateDialogParamA(g_state.instance, MAKEINTRESOURCEA(kProgressDialogId),
                                      nullptr, ExtractDlgProc, 0);
  if (g_state.dialog) UpdateWindow(g_state.dialog);
}

namespace {
void ShowStatus(const char* text) {
  if (g_state.silentMode) return;
  HWND status = GetDlgItem(g_state.dialog, kStatusControlId);
  if (!status) return;
  SetWindowTextA(status, text);
  UpdateWindow(status);
}
}  // namespace

void SetStatusText(const char* text) {
  ShowStatus(text);
  TraceStatus(text);  // after the repaint, so that a test sees the line as the user does
}
