#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>
#include "stdout_capture.h"

TEST(Smoke, CapturesStandardOutput) {
    StdoutCapture capture;
    std::printf("hello\n");
    std::fflush(stdout);
    EXPECT_EQ(capture.text(), "hello\n");
}
