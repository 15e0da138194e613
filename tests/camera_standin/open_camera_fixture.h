// Each test starts from a reset stand-in with its camera open.
#pragma once

#include "camera_ops.h"

#include <gtest/gtest.h>

class OpenCamera : public ::testing::Test {
protected:
    void SetUp() override {
        simReset();
        ASSERT_NE(camera_ops::ops().open, nullptr) << "uEye_api_64.dll has no ordinal 237";
        ASSERT_EQ(camera_ops::ops().open(&handle, nullptr), 0);
        ASSERT_NE(handle, 0u);
    }

    camera_ops::Handle handle = 0;
};
