#include "launcher/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace {
void ReportToStderr(const char* text) {
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
}

FatalReporter g_reportFatal = ReportToStderr;
}  // namespace

void SetFatalReporter(FatalReporter report) { g_reportFatal = report ? report : ReportToStderr; }

void EndWithFatalMessage(const char* text) {
  g_reportFatal(text);
  std::exit(1);
}
