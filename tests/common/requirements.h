#pragma once

// Tests that need what a machine may lack: a program or package the test set-up installs.
#include <gtest/gtest.h>

#include <QtGlobal>

namespace kd735::testing {

// Whether the test set-up has run (scripts/test.sh sets KD735_REQUIRE_SETUP): whatever it
// installs is then there, and a lack of it is a fault to report, not a reason to skip.
inline bool SetUpInstalledEverything() { return qEnvironmentVariableIsSet("KD735_REQUIRE_SETUP"); }

}  // namespace kd735::testing

// Skips the test when `have` is false, naming what is missing; after the test set-up the test
// fails instead.
#define KD735_NEED(have, what)                                                 \
  do {                                                                         \
    if (!(have)) {                                                             \
      if (::kd735::testing::SetUpInstalledEverything())                        \
        FAIL() << what << " is missing, although the test set-up installs it"; \
      GTEST_SKIP() << what << " is not installed";                             \
    }                                                                          \
  } while (false)
