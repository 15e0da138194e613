// Pictures large enough to be converted in bands of rows on several threads: the bands must
// meet where one pass would have put them, whichever way up the frame is stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "fenwyr.h"
#include "frame_converter.h"
#include "module_threads.h"
#include "test_devices.h"

namespace {

TEST(PictureBands, ABottomUpFrameMakesThePictureOfItsTopDownTwinAtEverySizeAndOutput) {
    const struct {
        const GUID* subtype;
        int bits;
    } sources[] = {{&MEDIASUBTYPE_RGB24, 24}, {&MEDIASUBTYPE_RGB32, 32}, {&MEDIASUBTYPE_RGB565, 16}};
    // One pass, and bands shared with helpers (an odd height: a short last band).
    const struct {
        int width, height;
    } sizes[] = {{160, 120}, {1280, 721}};
    std::mt19937 random(7);
    FrameConverter converter;
    for (const auto& source : sources)
        for (const auto& size : sizes) {
            SCOPED_TRACE(testing::Message() << source.bits << " bits, " << size.width << "x" << size.height);
            media_type::FrameLayout layout;
            layout.width = size.width;
            layout.height = size.height;
            layout.stride = (size.width * source.bits + 31) / 32 * 4;
            layout.bitCount = source.bits;
            layout.subtype = *source.subtype;
            std::vector<uint8_t> topDown(size_t(layout.stride) * size.height);
            for (uint8_t& byte : topDown)
                byte = uint8_t(random());
            std::vector<uint8_t> bottomUp(topDown.size());
            for (int row = 0; row < size.height; ++row)
                std::memcpy(&bottomUp[size_t(size.height - 1 - row) * layout.stride], &topDown[size_t(row) * layout.stride],
                            size_t(layout.stride));
            for (int32_t output = FENWYR_OUTPUT_BGR24; output <= FENWYR_OUTPUT_GRAY8; ++output) {
                SCOPED_TRACE(testing::Message() << "output " << output);
                FrameInfo native{};
                native.width = size.width;
                native.height = size.height;
                FrameInfo info{};
                ASSERT_TRUE(FrameConverter::describe(native, output, info));
                std::vector<uint8_t> fromTopDown(size_t(info.length)), fromBottomUp(size_t(info.length));
                layout.bottomUp = 0;
                ASSERT_TRUE(converter.convert(layout, topDown.data(), topDown.size(), output, fromTopDown.data()));
                layout.bottomUp = 1;
                ASSERT_TRUE(converter.convert(layout, bottomUp.data(), bottomUp.size(), output, fromBottomUp.data()));
                EXPECT_TRUE(fromTopDown == fromBottomUp);
            }
        }
}

// The helpers are the library's threads: none may outlive the device, or unloading the library
// would leave them without their code.
TEST(PictureBands, TheHelpersOfALargePictureEndWithTheDevice) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"1280x720@30 YUY2")});
    init();
    const std::size_t before = threadsStartedIn(L"fenwyr.dll");
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(setOutputFormat(0, FENWYR_OUTPUT_BGR24), S_OK);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    std::vector<uint8_t> picture(size_t(1280) * 720 * 3);
    FrameInfo info{};
    for (int k = 0; k < 3; ++k)
        ASSERT_EQ(grabFrame(0, picture.data(), int32_t(picture.size()), &info, 5000), S_OK);
    // The event thread, and a helper on each further processor.
    const std::size_t processors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    EXPECT_EQ(threadsStartedIn(L"fenwyr.dll"), before + 1 + std::min<std::size_t>(processors, 4) - 1);
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    uninit();
    EXPECT_EQ(threadsStartedIn(L"fenwyr.dll"), 0u);
}

}  // namespace
