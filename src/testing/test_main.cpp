// The main of every GoogleTest program of this build.
#include <gtest/gtest.h>

#include "testing/test_support.h"

int main(int argc, char** argv) {
  sealprobe::UseBinaryStandardOutput();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
