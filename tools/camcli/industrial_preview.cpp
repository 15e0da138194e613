// camcli preview --industrial: the industrial camera's 8-bit grey frames in the preview window.
// tarvik takes one call at a time per camera: once capture runs, only the picture thread calls.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "picture_thread.h"
#include "preview_snapshot.h"
#include "preview_status.h"
#include "preview_window.h"
#include "tarvik_api.h"

namespace {

class IndustrialPreview : public PreviewHost {
public:
    IndustrialPreview(const std::string& name, const AoiRect& aoi, double fps)
        : name_(name), aoi_(aoi), fps_(fps), window_("camcli preview: " + name, aoi.width, aoi.height, *this) {
        updateStatus();
    }

    // Shows frames until the window closes; the thread ends before this returns.
    void run(const TarvikApi& api, CameraContext* camera, double seconds) {
        const int width = aoi_.width, height = aoi_.height;
        thread_.reset(new PictureThread(
            [&api, camera, width, height](Picture& picture, FrameNote& note) {
                picture.pixels.resize(static_cast<size_t>(width) * height);
                if (!api.captureFrameChecked(camera, picture.pixels.data(), static_cast<int32_t>(picture.pixels.size())))
                    return false;
                picture.width = width;
                picture.height = height;
                picture.bytesPerPixel = 1;
                // The camera stamps a frame counter into the first bytes.
                uint32_t counter = 0;
                std::memcpy(&counter, picture.pixels.data(), sizeof counter);
                note.numbered = true;
                note.sequence = counter;
                return true;
            },
            window_));
        window_.run(seconds);
        thread_->stop();
    }

    void onKey(char key) override {
        if (key == 's')
            note_.set(snapshot(window_.shown(), "preview_industrial"));
        else if (key == 'p')
            note_.set("the industrial camera has no property pages");
        else
            note_.set("the industrial camera has no brightness control");
        updateStatus();
    }

    void onTick() override { updateStatus(); }

private:
    void updateStatus() {
        const PreviewStats stats = thread_ ? thread_->stats() : PreviewStats{};
        char line[512];
        std::snprintf(line, sizeof line,
                      "%s   %dx%d mono 8-bit   %.1f fps requested, %.1f measured   missed %llu   dropped n/a",
                      name_.c_str(), aoi_.width, aoi_.height, fps_, stats.fps, stats.missed);
        window_.setStatus(note_.after(line, stats));
    }

    const std::string name_;
    const AoiRect aoi_;
    const double fps_;
    PreviewWindow window_;
    std::unique_ptr<PictureThread> thread_;
    StatusNote note_;
};

} // namespace

int runIndustrialPreview(double seconds) {
    Library dll(L"tarvik.dll");
    const TarvikApi api(dll);
    const OpenedCamera opened(api);
    CameraContext* const camera = opened.get();
    if (!camera)
        return 1;

    // The current AOI, set again: capture needs a setAoi first (it makes the image memories).
    AoiInfoRecord info{};
    api.aoiInfo(camera, &info);
    api.setAoi(camera, &info.current);
    api.aoiInfo(camera, &info);
    char serial[13] = {};
    api.getCameraName(camera, serial);
    const std::string name = "industrial camera " + std::to_string(api.getCameraId(camera)) + " (" + serial + ")";
    const double fps = api.getCurrentFps(camera);

    IndustrialPreview preview(name, info.current, fps);
    if (api.startCapture(camera) != 0) {
        std::printf("camcli: the camera did not start capturing\n");
        return 1;
    }
    std::printf("previewing the %s; keys: s save, q quit\n", name.c_str());
    std::fflush(stdout);
    preview.run(api, camera, seconds);
    api.stopCurrentCapture(camera);
    return 0;
}
