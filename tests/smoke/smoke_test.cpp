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

// A host sees a line once its writer flushed it; the capture must not flush on the writer's behalf.
TEST(Smoke, CapturesOnlyWhatWasFlushed) {
    StdoutCapture capture;
    std::fputs("held", stdout);  // through the C stream's buffer, as std::cout writes
    std::putc('\n', stdout);     // Wine's runtime would write the buffer out here; Windows' does not
    EXPECT_EQ(capture.text(), "");
    std::fflush(stdout);
    EXPECT_EQ(capture.text(), "held\n");
}
