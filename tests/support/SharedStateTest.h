// Test fixture for code that uses the process-wide state and the files of the current directory:
// every test starts in a fresh current directory with every shared variable at its initial value.
#pragma once

#include <gtest/gtest.h>

#include "app/uServiceControl.h"
#include "service/ServiceState.h"
#include "settings/TarnShare.h"
#include "support/TempDir.h"

// Every process-wide variable of every layer back to its initial value.
inline void ResetSharedState() {
  InitSharedState();
  ResetServiceState();
  g_nDataMemory = 0;
}

class SharedStateTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSharedState(); }
  void TearDown() override { ResetSharedState(); }

  TempDir dir_;
};
