#include "launcher/exit_code.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
struct Outcome {
  const char* what;
  int unpackMode;
  const char* unpackName;
  int unpackNameFound;
  int extractionFailed;
  int setupStarted;
  unsigned setupExitCode;
  int expected;
};
}  // namespace

TEST(ComposeExitCode, FailuresOfTheLauncherNeverReadAsSuccess) {
  const Outcome cases[] = {
      {"program ran and succeeded", 0, "", 0, 0, 1, 0, 0},
      {"program's own code", 0, "", 0, 0, 1, 7, 7},
      {"program's code above 2^31", 0, "", 0, 0, 1, 0xC0000005u, static_cast<int>(0xC0000005u)},
      {"extraction failed wins over success", 0, "", 0, 1, 1, 0, 2},
      {"extraction failed wins over the program's code", 0, "", 0, 1, 1, 5, 2},
      {"extraction failed, nothing started", 0, "", 0, 1, 0, 0, 2},
      {"program could not be started", 0, "", 0, 0, 0, 0, 2},
      {"-u complete", 1, "", 0, 0, 0, 0, 0},
      {"-u NAME found", 1, "README.TXT", 1, 0, 0, 0, 0},
      {"-u NAME not in the package", 1, "NOSUCH", 0, 0, 0, 0, 2},
      {"-u with an extraction failure", 1, "", 0, 1, 0, 0, 2},
      {"-u NAME found but failed", 1, "README.TXT", 1, 1, 0, 0, 2},
  };
  for (const Outcome& c : cases) {
    LauncherState state;
    std::memset(&state, 0, sizeof state);
    state.unpackMode = c.unpackMode;
    std::strcpy(state.unpackName, c.unpackName);
    state.unpackNameFound = c.unpackNameFound;
    state.extractionFailed = c.extractionFailed;
    state.setupStarted = c.setupStarted;
    state.setupExitCode = c.setupExitCode;
    EXPECT_EQ(ComposeExitCode(state), c.expected) << c.what;
  }
}
