#include "scene.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace camera_sim {

namespace {

// 5 x 7 block digits, one row per byte, leftmost pixel in bit 4.
const std::uint8_t kDigitFont[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
};

class Canvas {
public:
    Canvas() : pixels_(static_cast<std::size_t>(kSensorWidth) * kSensorHeight) {}

    std::uint8_t& at(int x, int y) { return pixels_[static_cast<std::size_t>(y) * kSensorWidth + x]; }
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < kSensorWidth && y < kSensorHeight; }
    void set(int x, int y, std::uint8_t grey) {
        if (inside(x, y))
            at(x, y) = grey;
    }
    void fillRect(int x0, int y0, int width, int height, std::uint8_t grey) {
        for (int y = y0; y < y0 + height; ++y)
            for (int x = x0; x < x0 + width; ++x)
                set(x, y, grey);
    }
    void digit(int value, int x0, int y0, int scale, std::uint8_t grey) {
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (kDigitFont[value][row] & (0x10 >> col))
                    fillRect(x0 + col * scale, y0 + row * scale, scale, scale, grey);
    }
    std::vector<std::uint8_t> release() { return std::move(pixels_); }

private:
    std::vector<std::uint8_t> pixels_;
};

std::vector<std::uint8_t> drawTestChart() {
    Canvas chart;

    // Gradient background, darker top left, lighter bottom right.
    for (int y = 0; y < kSensorHeight; ++y)
        for (int x = 0; x < kSensorWidth; ++x)
            chart.at(x, y) = static_cast<std::uint8_t>(48 + x * 96 / kSensorWidth + y * 64 / kSensorHeight);

    // Grid: a thin light line every 32 pixels, a dark double line every 128.
    for (int y = 0; y < kSensorHeight; ++y)
        for (int x = 0; x < kSensorWidth; ++x) {
            if (x % 128 < 2 || y % 128 < 2)
                chart.at(x, y) = 16;
            else if (x % 32 == 0 || y % 32 == 0)
                chart.at(x, y) = static_cast<std::uint8_t>(chart.at(x, y) + 32);
        }

    // Concentric rings round the centre, with a black dot in the middle.
    const int cx = kSensorWidth / 2, cy = kSensorHeight / 2;
    for (int y = cy - 300; y <= cy + 300; ++y)
        for (int x = cx - 300; x <= cx + 300; ++x) {
            int dx = x - cx, dy = y - cy;
            int r2 = dx * dx + dy * dy;
            if (r2 <= 8 * 8) {
                chart.set(x, y, 0);
                continue;
            }
            for (int ring = 1; ring <= 7; ++ring) {
                int inner = ring * 40 - 3, outer = ring * 40 + 3;
                if (r2 >= inner * inner && r2 <= outer * outer)
                    chart.set(x, y, 240);
            }
        }

    // One shape per corner.
    chart.fillRect(96, 96, 128, 128, 230);                   // square, top left
    for (int y = 80; y < 240; ++y) {                          // triangle, top right
        int half = (y - 80) / 2;
        for (int x = 1120 - half; x <= 1120 + half; ++x)
            chart.set(x, y, 12);
    }
    for (int y = 864 - 72; y <= 864 + 72; ++y)               // disc, bottom left
        for (int x = 160 - 72; x <= 160 + 72; ++x)
            if ((x - 160) * (x - 160) + (y - 864) * (y - 864) <= 72 * 72)
                chart.set(x, y, 200);
    for (int y = 864 - 80; y <= 864 + 80; ++y)               // diamond, bottom right
        for (int x = 1120 - 80; x <= 1120 + 80; ++x)
            if (std::abs(x - 1120) + std::abs(y - 864) < 80)
                chart.set(x, y, 60);

    // Quadrant numbers, large, each in its own grey on a plate that sets it off.
    const struct { int value, x, y; std::uint8_t grey, plate; } numbers[] = {
        {1, 300, 60, 255, 0}, {2, 900, 60, 170, 0}, {3, 300, 720, 96, 255}, {4, 900, 720, 0, 255}};
    for (const auto& number : numbers) {
        chart.fillRect(number.x - 16, number.y - 16, 5 * 16 + 32, 7 * 16 + 32, number.plate);
        chart.digit(number.value, number.x, number.y, 16, number.grey);
    }

    // A strip of all ten digits along the bottom on a black band, each a different grey.
    chart.fillRect(268, 908, 10 * 72 + 12, 7 * 12 + 24, 0);
    for (int value = 0; value < 10; ++value)
        chart.digit(value, 280 + value * 72, 920, 12, static_cast<std::uint8_t>(250 - value * 20));

    return chart.release();
}

}  // namespace

const std::uint8_t* sceneImage() {
    static const std::vector<std::uint8_t> scene = drawTestChart();
    return scene.data();
}

void renderFrame(const AoiRect& aoi, char* memory, int memoryPitch, int memoryHeight,
                 std::uint32_t frameCounter) {
    const std::uint8_t* scene = sceneImage();
    const int rows = std::min(aoi.height, memoryHeight);
    const int columns = std::min(aoi.width, memoryPitch);
    for (int row = 0; row < rows; ++row)
        std::memcpy(memory + static_cast<std::size_t>(row) * memoryPitch,
                    scene + static_cast<std::size_t>(aoi.y + row) * kSensorWidth + aoi.x,
                    static_cast<std::size_t>(columns));

    if (static_cast<long long>(memoryPitch) * memoryHeight >= 4) {
        for (int i = 0; i < 4; ++i)
            memory[i] = static_cast<char>((frameCounter >> (8 * i)) & 0xFF);
    }
}

}  // namespace camera_sim
