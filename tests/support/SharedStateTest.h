// Test fixture for code that uses the process-wide state and the files of the current directory:
// every test starts in a fresh current directory with every shared variable at its initial value.
#pragma once

#include <gtest/gtest.h>

#include "settings/TarnShare.h"
#include "support/TempDir.h"

class SharedStateTest : public ::testing::Test {
 protected:
  void SetUp() override { InitSharedState(); }
  void TearDown() override { InitSharedState(); }

  TempDir dir_;
};
