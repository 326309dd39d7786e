#include <windows.h>

#include "launcher/launcher_state.h"
#include "progress/progress_report.h"
#include "progress/progress_window.h"

void RegisterGaugeClass() {}

void RegisterDialogClass() {}

void CreateProgressDialog() {}

void SetStatusText(const char* text) {
  if (g_state.silentMode) return;
  (void)text;
}

void SetProgress(unsigned percent) {
  if (g_state.silentMode) return;
  (void)percent;
}
