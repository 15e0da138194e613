// Frame delivery through fenwyr against a graph of the same platform filters built without it,
// and fenwyr's life cycle: init, open, first frame, stop, uninit.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_table.h"
#include "fenwyr.h"
#include "platform_graph.h"
#include "vcam_devices.h"

namespace {

using Clock = std::chrono::steady_clock;

LONGLONG qpcFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

// What the host callback sees: count, bytes, and the delay from the device's stamp (bytes 8-15).
struct Delivery {
    std::atomic<bool> recording{false};
    std::atomic<long long> frames{0};
    std::atomic<long long> bytes{0};
    std::vector<double> latencyMicros;  // written by the one streaming thread while recording

    void reset() {
        recording = false;
        frames = 0;
        bytes = 0;
        latencyMicros.clear();
        latencyMicros.reserve(1 << 20);
    }
    void onFrame(const uint8_t* data, long length) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        if (!recording)
            return;
        frames.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add(length, std::memory_order_relaxed);
        if (length >= 16 && latencyMicros.size() < latencyMicros.capacity()) {
            LONGLONG stamp;
            std::memcpy(&stamp, data + 8, sizeof stamp);
            latencyMicros.push_back(double(now.QuadPart - stamp) * 1e6 / double(qpcFrequency()));
        }
    }
};
Delivery delivery;

void fenwyrCallback(uint8_t* data, int32_t length) {
    delivery.onFrame(data, length);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// Lets the stream settle, then records for `seconds`: frames/s, MB/s, p50 and p99 latency (µs).
std::vector<double> record(double seconds) {
    Sleep(200);
    delivery.reset();
    delivery.recording = true;
    const auto start = Clock::now();
    Sleep(static_cast<DWORD>(seconds * 1000));
    delivery.recording = false;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return {delivery.frames / elapsed, delivery.bytes / elapsed / 1e6, percentile(delivery.latencyMicros, 0.5),
            percentile(delivery.latencyMicros, 0.99)};
}

std::vector<double> throughFenwyr(int device, double seconds) {
    if (!openDevice(device))
        throw std::runtime_error("fenwyr could not open the device");
    setFrameArrivedCallback(device, fenwyrCallback);
    if (FAILED(startCapture(device)))
        throw std::runtime_error("fenwyr could not start");
    const std::vector<double> figures = record(seconds);
    stopCapture(device);
    return figures;
}

std::vector<double> platformOnly(const std::wstring& name, double seconds) {
    PlatformGraph graph;
    if (FAILED(graph.open(name)))
        throw std::runtime_error("the platform graph could not be built");
    graph.setCallback([](const BYTE* data, long length, double) { delivery.onFrame(data, length); });
    if (FAILED(graph.run()))
        throw std::runtime_error("the platform graph could not run");
    const std::vector<double> figures = record(seconds);
    graph.stop();
    return figures;
}

double millisecondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void deliveryTable(int repetitions, std::vector<Figure>& figures) {
    struct Stream {
        const wchar_t* name;
        const char* label;
        int device;
    } streams[] = {{L"Bench 640x480 YUY2", "640x480 YUY2", 0}, {L"Bench 1920x1080 RGB24", "1920x1080 RGB24", 1}};
    for (const Stream& s : streams) {
        const auto samples = alternate(repetitions, {
            [&] { return throughFenwyr(s.device, 1.0); },
            [&] { return platformOnly(s.name, 1.0); },
        });
        const char* units[] = {"frames/s", "MB/s", "p50 us", "p99 us"};
        const char* variants[] = {"fenwyr", "platform"};
        for (int v = 0; v < 2; ++v)
            for (int u = 0; u < 4; ++u)
                figures.push_back({std::string("delivery ") + s.label, variants[v], units[u], samples[v][u],
                                   v == 0 ? "platform" : ""});
    }
}

// init appends every device again: each round's eight are the last of the table.
void lifeCycleTable(int repetitions, int tableSize, std::vector<Figure>& figures) {
    std::vector<double> initMs, openMs, firstFrameMs, stopMs, uninitOneMs, uninitEightMs;
    for (int r = 0; r < repetitions; ++r) {
        initMs.push_back(millisecondsOf([] { init(); }));
        int first = tableSize;
        tableSize += 8;
        openMs.push_back(millisecondsOf([&] { openDevice(first); }));
        delivery.reset();
        delivery.recording = true;
        setFrameArrivedCallback(first, fenwyrCallback);
        const auto start = Clock::now();
        startCapture(first);
        while (delivery.frames == 0 && Clock::now() - start < std::chrono::seconds(5))
            Sleep(0);
        firstFrameMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        delivery.recording = false;
        stopMs.push_back(millisecondsOf([&] { stopCapture(first); }));
        uninitOneMs.push_back(millisecondsOf([] { uninit(); }));

        init();
        first = tableSize;
        tableSize += 8;
        for (int d = first; d < first + 8; ++d)
            openDevice(d);
        uninitEightMs.push_back(millisecondsOf([] { uninit(); }));
    }
    figures.push_back({"init, 8 devices", "fenwyr", "ms", initMs, ""});
    figures.push_back({"openDevice", "fenwyr", "ms", openMs, ""});
    figures.push_back({"startCapture to first frame", "fenwyr", "ms", firstFrameMs, ""});
    figures.push_back({"stopCapture", "fenwyr", "ms", stopMs, ""});
    figures.push_back({"uninit, 1 device open", "fenwyr", "ms", uninitOneMs, ""});
    figures.push_back({"uninit, 8 devices open", "fenwyr", "ms", uninitEightMs, ""});
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(5, std::atoi(argv[1])) : 7;
    try {
        // Hold COM for the whole run, so the virtual device's DLL stays loaded between uninit and init.
        CoInitialize(nullptr);
        std::vector<VcamDevice> devices = {
            {L"Bench0", L"Bench 640x480 YUY2", L"640x480@30 YUY2", 1, {{L"Unthrottled", 1}}, {}},
            {L"Bench1", L"Bench 1920x1080 RGB24", L"1920x1080@30 RGB24", 2, {{L"Unthrottled", 1}}, {}},
        };
        for (int i = 2; i < 8; ++i)
            devices.push_back({L"Bench" + std::to_wstring(i), L"Bench idle " + std::to_wstring(i), L"320x240@30 YUY2",
                               DWORD(i + 1), {}, {}});
        VcamDevices registered(devices);

        std::vector<Figure> figures;
        init();
        deliveryTable(repetitions, figures);
        uninit();
        printTable("Frame delivery (fenwyr), " + std::to_string(repetitions) + " alternating repetitions of 1 s",
                   figures);

        figures.clear();
        lifeCycleTable(repetitions, 8, figures);
        printTable("Life cycle (fenwyr), " + std::to_string(repetitions) + " repetitions", figures);
        CoUninitialize();
        return 0;
    } catch (const std::exception& e) {
        std::printf("benchmark failed: %s\n", e.what());
        return 1;
    }
}
