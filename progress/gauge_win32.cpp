// The gauge control: a row of solid blocks in a thin sunken frame. There is no message loop, so
// SetProgress paints synchronously, and only when a block is added.
#include <windows.h>

#include "base/win32_owners.h"
#include "launcher/launcher_state.h"
#include "progress/gauge_geometry.h"
#include "progress/progress_report.h"
#include "progress/progress_trace.h"
#include "progress/progress_window.h"

namespace {
constexpr COLORREF kBlockColour = 0x00800000;  // RGB(0, 0, 128)

RECT ToRect(const GaugeRect& r) { return {r.left, r.top, r.right, r.bottom}; }

// Gives up the template width that a whole block would not fill, keeping position and height.
void FitGaugeWidth(HWND window) {
  RECT bounds;
  GetWindowRect(window, &bounds);
  const int width = FittedGaugeWindowWidth(g_state.gaugeBlocks, GetSystemMetrics(SM_CXBORDER));
  SetWindowPos(window, nullptr, -1, -1, width, bounds.bottom - bounds.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SizeGauge(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  g_state.gaugeFilled = 0;
  g_state.gaugeBlocks = GaugeBlockCount(client.right - client.left);
  FitGaugeWidth(window);
}

// Fills the filled blocks that meet the paint rectangle; the rest shows the class background.
void PaintGauge(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  UniqueGdiObject brush(CreateSolidBrush(kBlockColour));
  RECT client;
  GetClientRect(window, &client);
  RECT block = ToRect(GaugeBlockRect(0, client.bottom));
  for (int i = 0; i < g_state.gaugeFilled; ++i) {
    RECT meet;
    if (IntersectRect(&meet, &block, &paint.rcPaint)) {
      FillRect(dc, &block, static_cast<HBRUSH>(brush.get()));
    }
    OffsetRect(&block, kGaugeBlockWidth, 0);
  }
  brush.reset();
  EndPaint(window, &paint);
}

// The frame in the non-client area: shadow on the left and top, white on the bottom and right.
void DrawGaugeBorder(HWND window) {
  HDC dc = GetWindowDC(window);
  UniqueGdiObject shadow(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW)));
  RECT bounds;
  GetWindowRect(window, &bounds);
  const int w = bounds.right - bounds.left;
  const int h = bounds.bottom - bounds.top;
  HGDIOBJ kept = SelectObject(dc, shadow.get());
  MoveToEx(dc, 0, h - 1, nullptr);
  LineTo(dc, 0, 0);
  LineTo(dc, w - 1, 0);
  SelectObject(dc, GetStockObject(WHITE_PEN));
  MoveToEx(dc, 0, h - 1, nullptr);
  LineTo(dc, w - 1, h - 1);
  LineTo(dc, w - 1, 0);
  SelectObject(dc, kept);
  shadow.reset();
  ReleaseDC(window, dc);
}

LRESULT CALLBACK GaugeWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      // The border reserves the frame that WM_NCPAINT draws; the default frame is never drawn.
      SetWindowLongA(window, GWL_STYLE, GetWindowLongA(window, GWL_STYLE) | WS_BORDER);
      return 1;
    case WM_CREATE:
      SizeGauge(window);
      return 1;
    case WM_NCPAINT:
      DrawGaugeBorder(window);
      return 1;
    case WM_PAINT:
      PaintGauge(window);
      return 1;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
}  // namespace

void RegisterGaugeClass() {
  WNDCLASSA gaugeClass = {};
  gaugeClass.lpfnWndProc = GaugeWndProc;
  gaugeClass.hInstance = g_state.instance;
  // A class brush may be a system colour index plus one; Win32 takes it in the handle field.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  gaugeClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  gaugeClass.lpszClassName = kGaugeClassName;
  RegisterClassA(&gaugeClass);
}

void SetProgress(unsigned percent) {
  TraceProgress(percent);
  if (g_state.silentMode) return;
  std::uint32_t blocks = GaugeBlocksForPercent(g_state.gaugeBlocks, percent);
  // Blocks past the last one would never be painted; counting them only lengthens every paint.
  const std::uint32_t fit = static_cast<std::uint32_t>(g_state.gaugeBlocks);
  if (blocks > fit) blocks = fit;
  if (blocks <= static_cast<std::uint32_t>(g_state.gaugeFilled)) return;
  HWND gauge = GetDlgItem(g_state.dialog, kGaugeControlId);
  g_state.gaugeFilled = static_cast<int>(blocks);
  // A null window would make InvalidateRect repaint the whole screen.
  if (!gauge) return;
  RECT client;
  GetClientRect(gauge, &client);
  InvalidateRect(gauge, &client, FALSE);
  UpdateWindow(g_state.dialog);
}
