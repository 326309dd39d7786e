#include "launcher/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace {
void ReportToStderr(const FatalEnd& end) {
  std::fputs(end.text, stderr);
  std::fputc('\n', stderr);
}

FatalReporter g_reportFatal = ReportToStderr;
}  // namespace

void SetFatalReporter(FatalReporter report) { g_reportFatal = report ? report : ReportToStderr; }

void EndWithFatalMessage(const FatalEnd& end) {
  g_reportFatal(end);
  std::exit(kExitFatal);
}
