#include "camera_model.h"
#include "environment.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace camera_sim {

namespace {

constexpr std::uint32_t kCameraHandle = 1;
constexpr char kSerialNumber[] = "4103527891";
constexpr int kInfoRecordSize = 64;
constexpr int kInfoCameraIdOffset = 54;

constexpr int kMinAoiWidth = 32, kMinAoiHeight = 4;
constexpr int kAoiWidthStep = 8, kAoiHeightStep = 2;
constexpr int kAoiXStep = 4, kAoiYStep = 2;

constexpr std::uint32_t kAoiSet = 1, kAoiGet = 2, kAoiMinSize = 8, kAoiMaxSize = 16, kAoiSizeStep = 18;
constexpr std::uint32_t kClockCount = 1, kClockList = 2, kClockCurrent = 5, kClockSet = 6;
constexpr std::uint32_t kExposureCaps = 1, kExposureRange = 6, kExposureCurrent = 7, kExposureFineRange = 11,
                        kExposureSet = 12;
constexpr std::uint32_t kExposureCapSettable = 1, kExposureCapFine = 2;
constexpr std::uint32_t kGammaSet = 1, kGammaGet = 2;
constexpr std::uint32_t kCaptureStatusReset = 1;
constexpr int kGainQuery = 0x8000;
constexpr double kReportCurrentRate = 32768.0;
constexpr double kDefaultExposureMs = 10.0;
constexpr std::int64_t kLongestSleepNs = 50 * 1000000LL;   // so a stop from another thread is noticed

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepUntil(std::int64_t wakeNs) {
    const std::int64_t remaining = wakeNs - nowNs();
    if (remaining > 0)
        Sleep(static_cast<DWORD>((remaining + 999999) / 1000000));
}

std::vector<int> pixelClockList(int count) {
    if (count < 0)
        return {5, 10, 20, 30, 43, 86};
    std::vector<int> list;
    for (int i = 0; i < count; ++i)
        list.push_back(5 + i);
    return list;
}

int nearestPixelClock(const std::vector<int>& list, int wanted) {
    if (list.empty())
        return wanted;
    return *std::min_element(list.begin(), list.end(), [wanted](int a, int b) {
        return std::abs(a - wanted) < std::abs(b - wanted);
    });
}

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

void writePair(void* param, int first, int second) {
    const std::int32_t pair[2] = {first, second};
    std::memcpy(param, pair, sizeof pair);
}

void writeRange(void* param, const ExposureRange& range) {
    const double values[3] = {range.min, range.max, range.increment};
    std::memcpy(param, values, sizeof values);
}

template <typename T>
T readValue(const void* param) {
    T value;
    std::memcpy(&value, param, sizeof value);
    return value;
}

template <typename T>
void writeValue(void* param, T value) {
    std::memcpy(param, &value, sizeof value);
}

// Why an AOI is refused, or empty when the camera takes it.
std::string aoiProblem(const AoiRect& aoi) {
    auto text = [](const char* what, int value, const std::string& why) {
        return std::string("AOI ") + what + " " + std::to_string(value) + " " + why;
    };
    if (aoi.width < kMinAoiWidth)
        return text("width", aoi.width, "is below the minimum " + std::to_string(kMinAoiWidth));
    if (aoi.height < kMinAoiHeight)
        return text("height", aoi.height, "is below the minimum " + std::to_string(kMinAoiHeight));
    if (aoi.width > kSensorWidth)
        return text("width", aoi.width, "is above the maximum " + std::to_string(kSensorWidth));
    if (aoi.height > kSensorHeight)
        return text("height", aoi.height, "is above the maximum " + std::to_string(kSensorHeight));
    if (aoi.width % kAoiWidthStep != 0)
        return text("width", aoi.width, "is not a multiple of the size increment " + std::to_string(kAoiWidthStep));
    if (aoi.height % kAoiHeightStep != 0)
        return text("height", aoi.height, "is not a multiple of the size increment " + std::to_string(kAoiHeightStep));
    if (aoi.x < 0 || aoi.x > kSensorWidth - aoi.width)
        return text("x", aoi.x, "puts the AOI outside the sensor (width " + std::to_string(kSensorWidth) + ")");
    if (aoi.y < 0 || aoi.y > kSensorHeight - aoi.height)
        return text("y", aoi.y, "puts the AOI outside the sensor (height " + std::to_string(kSensorHeight) + ")");
    if (aoi.x % kAoiXStep != 0)
        return text("x", aoi.x, "is not a multiple of the position increment " + std::to_string(kAoiXStep));
    if (aoi.y % kAoiYStep != 0)
        return text("y", aoi.y, "is not a multiple of the position increment " + std::to_string(kAoiYStep));
    return {};
}

}  // namespace

CameraModel::CameraModel() = default;

// ---- test controls ----

void CameraModel::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    camera_.reset();
    options_ = Options{};
    present_ = true;
    forced_.clear();
    log_.clear();
    stats_ = CaptureStats{};
    nextMemoryId_ = 1;
    cameraError_ = LastError{};
    handlelessError_ = LastError{};
}

void CameraModel::setCameraPresent(bool present) {
    std::lock_guard<std::mutex> lock(mutex_);
    present_ = present;
}

void CameraModel::forceStatus(int ordinal, int status, int calls) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (calls == 0 || calls < -1)
        forced_.erase(ordinal);
    else
        forced_[ordinal] = ForcedStatus{status, calls};
}

void CameraModel::setOption(const char* name, double value) {
    if (!name || !std::isfinite(value))
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string option = name;
    if (option == "pixelClockCount") {
        options_.pixelClockCount = value < 0 ? -1 : static_cast<int>(std::min(value, 10000.0));
        if (camera_) {
            const SensorTiming before = camera_->timing();
            const std::vector<int> list = pixelClockList(options_.pixelClockCount);
            if (std::find(list.begin(), list.end(), camera_->pixelClockMHz) == list.end())
                camera_->pixelClockMHz = nearestPixelClock(list, camera_->pixelClockMHz);
            retime(before);
        }
    } else if (option == "fineExposure") {
        options_.fineExposure = value != 0;
        if (camera_)
            fitExposure();
    } else if (option == "unpaced") {
        const bool wasUnpaced = options_.unpaced;
        options_.unpaced = value != 0;
        if (camera_ && wasUnpaced && !options_.unpaced)
            camera_->capture.restartPacing(nowNs());
    } else if (option == "cameraId") {
        options_.cameraId = static_cast<int>(std::clamp(value, 0.0, 255.0));
    } else if (option == "log") {
        options_.log = value != 0;
    }
}

int CameraModel::copyCallLog(char* buffer, int size) {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_.copyTo(buffer, size);
}

void CameraModel::clearCallLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

void CameraModel::stats(long long* framesProduced, long long* framesDropped, int* liveMemories) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (camera_ && !options_.unpaced)
        camera_->capture.accountDueFrames(nowNs(), camera_->aoi);
    if (framesProduced)
        *framesProduced = stats_.framesProduced;
    if (framesDropped)
        *framesDropped = stats_.framesDropped;
    if (liveMemories)
        *liveMemories = camera_ ? camera_->capture.liveMemories() : 0;
}

// ---- shared steps ----

bool CameraModel::validHandle(std::uint32_t handle) const {
    return camera_ && handle == kCameraHandle;
}

void CameraModel::record(const LogLine& line) {
    if (options_.log)
        log_.append(line.text());
}

bool CameraModel::takeForcedStatus(int ordinal, std::int32_t& status) {
    auto forced = forced_.find(ordinal);
    if (forced == forced_.end())
        return false;
    status = forced->second.status;
    if (forced->second.callsLeft > 0 && --forced->second.callsLeft == 0)
        forced_.erase(forced);
    return true;
}

bool CameraModel::admit(const LogLine& line, int ordinal, std::uint32_t handle, std::int32_t& status) {
    record(line);
    if (takeForcedStatus(ordinal, status)) {
        refuse(handle, status, "forced status");
        return false;
    }
    if (!validHandle(handle)) {
        status = refuse(handle, kInvalidHandle, "camera handle " + std::to_string(handle) + " is not open");
        return false;
    }
    if (!options_.unpaced)
        camera_->capture.accountDueFrames(nowNs(), camera_->aoi);
    return true;
}

std::int32_t CameraModel::refuse(std::uint32_t handle, const Outcome& outcome) {
    if (outcome.ok())
        return kOk;
    return refuse(handle, outcome.status, outcome.reason);
}

std::int32_t CameraModel::refuse(std::uint32_t handle, std::int32_t status, std::string reason) {
    LastError& error = validHandle(handle) ? cameraError_ : handlelessError_;
    error.code = status;
    error.text = std::move(reason);
    return status;
}

std::string CameraModel::memoryName(const char* memory) const {
    if (!memory)
        return "null";
    const ImageMemory* image = camera_ ? camera_->capture.find(memory) : nullptr;
    return image ? "m" + std::to_string(image->id) : "m?";
}

ExposureRange CameraModel::exposureRange() const {
    return options_.fineExposure ? fineExposureRange(camera_->timing(), camera_->frameLines)
                                 : coarseExposureRange(camera_->timing(), camera_->frameLines);
}

void CameraModel::fitExposure() {
    const ExposureRange range = exposureRange();
    camera_->exposureMs = roundToIncrement(range, std::clamp(camera_->exposureMs, range.min, range.max));
}

void CameraModel::retime(const SensorTiming& before) {
    const double fps = before.fpsOfFrameLines(camera_->frameLines);
    const SensorTiming after = camera_->timing();
    camera_->frameLines = after.frameLinesForFps(fps);
    camera_->capture.changeFramePeriod(nowNs(), after.frameNanoseconds(camera_->frameLines));
    fitExposure();
}

// ---- opening, closing, information ----

std::int32_t CameraModel::open(std::uint32_t* handle, void* window) {
    std::lock_guard<std::mutex> lock(mutex_);
    LogLine line(237);
    if (handle)
        line.integer(*handle);
    else
        line.word("null");
    line.address(window);

    // No handle yet: open is admitted without the handle check.
    record(line);
    std::int32_t status;
    if (takeForcedStatus(237, status))
        return refuse(0, status, "forced status");

    if (!handle)
        return refuse(0, kNullPointer, "null pointer for the camera handle");
    if (!present_)
        return refuse(0, kNoCamera, "no camera is attached");
    if (*handle != 0 && *handle != static_cast<std::uint32_t>(options_.cameraId))
        return refuse(0, kNoCamera, "no camera with id " + std::to_string(*handle));
    if (camera_)
        return refuse(0, kAlreadyOpen, "the camera is already open");

    camera_ = std::make_unique<OpenCamera>(stats_);
    const std::vector<int> clocks = pixelClockList(options_.pixelClockCount);
    if (std::find(clocks.begin(), clocks.end(), camera_->pixelClockMHz) == clocks.end())
        camera_->pixelClockMHz = nearestPixelClock(clocks, camera_->pixelClockMHz);
    camera_->frameLines = camera_->timing().minFrameLines();
    camera_->capture.changeFramePeriod(nowNs(), camera_->timing().frameNanoseconds(camera_->frameLines));
    camera_->exposureMs = kDefaultExposureMs;
    fitExposure();
    cameraError_ = LastError{};

    *handle = kCameraHandle;
    return kOk;
}

std::int32_t CameraModel::close(std::uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(239), 239, handle, status))
        return status;
    // Whatever the host left allocated goes with the camera.
    camera_.reset();
    return kOk;
}

std::int32_t CameraModel::setDisplayMode(std::uint32_t handle, int mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(12).integer(mode), 12, handle, status))
        return status;
    if (mode != 1)
        return refuse(handle, kInvalidParameter,
                      "display mode " + std::to_string(mode) + " is not supported (only 1, device-independent bitmap)");
    camera_->displayMode = mode;
    return kOk;
}

std::int32_t CameraModel::setColourMode(std::uint32_t handle, int mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(17).integer(mode), 17, handle, status))
        return status;
    if (mode != 6)
        return refuse(handle, kInvalidParameter,
                      "colour mode " + std::to_string(mode) + " is not supported (only 6, 8-bit monochrome)");
    camera_->colourMode = mode;
    return kOk;
}

std::int32_t CameraModel::readInfo(std::uint32_t handle, void* info) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(241), 241, handle, status))
        return status;
    if (!info)
        return refuse(handle, kNullPointer, "null pointer for the camera information");

    unsigned char record[kInfoRecordSize] = {};
    std::memcpy(record, kSerialNumber, sizeof kSerialNumber - 1);
    record[kInfoCameraIdOffset] = static_cast<unsigned char>(options_.cameraId);
    std::memcpy(info, record, sizeof record);
    return kOk;
}

// ---- area of interest ----

std::int32_t CameraModel::aoiCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    LogLine line(486);
    line.integer(command).integer(size);
    if (command == kAoiSet) {
        if (!param) {
            line.word("null");
        } else if (size >= 16) {
            const AoiRect requested = readValue<AoiRect>(param);
            line.integer(requested.x).integer(requested.y).integer(requested.width).integer(requested.height);
        }
    }
    std::int32_t status;
    if (!admit(line, 486, handle, status))
        return status;

    const std::uint32_t needed = (command == kAoiSet || command == kAoiGet) ? 16 : 8;
    switch (command) {
    case kAoiSet:
    case kAoiGet:
    case kAoiMinSize:
    case kAoiMaxSize:
    case kAoiSizeStep:
        if (!param || size < needed)
            return refuse(handle, kNullPointer,
                          "AOI command " + std::to_string(command) + " needs a " + std::to_string(needed) + "-byte parameter");
        break;
    default:
        return refuse(handle, kNotSupported, "AOI command " + std::to_string(command) + " is not supported");
    }

    switch (command) {
    case kAoiSet: {
        const AoiRect requested = readValue<AoiRect>(param);
        const std::string problem = aoiProblem(requested);
        if (!problem.empty())
            return refuse(handle, kInvalidParameter, problem);
        const SensorTiming before = camera_->timing();
        camera_->aoi = requested;
        retime(before);
        break;
    }
    case kAoiGet:
        writeValue(param, camera_->aoi);
        break;
    case kAoiMinSize:
        writePair(param, kMinAoiWidth, kMinAoiHeight);
        break;
    case kAoiMaxSize:
        writePair(param, kSensorWidth, kSensorHeight);
        break;
    case kAoiSizeStep:
        writePair(param, kAoiWidthStep, kAoiHeightStep);
        break;
    }
    return kOk;
}

// ---- image memories, sequence and queue ----

std::int32_t CameraModel::allocateMemory(std::uint32_t handle, int width, int height, int bitsPerPixel, char** memory,
                                         int* id) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(36).integer(width).integer(height).integer(bitsPerPixel), 36, handle, status))
        return status;
    if (!id)
        return refuse(handle, kNullPointer, "no place to return the image memory id");
    const Outcome outcome = camera_->capture.allocate(width, height, bitsPerPixel, nextMemoryId_, memory);
    if (!outcome.ok())
        return refuse(handle, outcome);
    *id = nextMemoryId_++;
    return kOk;
}

std::int32_t CameraModel::addToSequence(std::uint32_t handle, char* memory, int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(68).word(memoryName(memory)).integer(id), 68, handle, status))
        return status;
    return refuse(handle, camera_->capture.addToSequence(memory, id));
}

std::int32_t CameraModel::clearSequence(std::uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(69), 69, handle, status))
        return status;
    camera_->capture.clearSequence();
    return kOk;
}

std::int32_t CameraModel::freeMemory(std::uint32_t handle, char* memory, int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(38).word(memoryName(memory)).integer(id), 38, handle, status))
        return status;
    return refuse(handle, camera_->capture.release(memory, id));
}

std::int32_t CameraModel::initImageQueue(std::uint32_t handle, int mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(395).integer(mode), 395, handle, status))
        return status;
    return refuse(handle, camera_->capture.initQueue(mode));
}

std::int32_t CameraModel::exitImageQueue(std::uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(429), 429, handle, status))
        return status;
    camera_->capture.exitQueue();
    return kOk;
}

// ---- live capture ----

std::int32_t CameraModel::startLive(std::uint32_t handle, int wait) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(5).integer(wait), 5, handle, status))
        return status;
    if (wait != 0 && wait != 1)
        return refuse(handle, kInvalidParameter, "start wait " + std::to_string(wait) + " is neither 0 nor 1");
    return refuse(handle, camera_->capture.start(nowNs(), camera_->timing().frameNanoseconds(camera_->frameLines)));
}

std::int32_t CameraModel::stopLive(std::uint32_t handle, int wait) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(3).integer(wait), 3, handle, status))
        return status;
    if (wait != 0 && wait != 1)
        return refuse(handle, kInvalidParameter, "stop wait " + std::to_string(wait) + " is neither 0 nor 1");
    camera_->capture.stop();
    return kOk;
}

std::int32_t CameraModel::waitForNextImage(std::uint32_t handle, std::uint32_t timeoutMs, char** memory,
                                           int* imageId) {
    const std::int64_t deadline = nowNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    std::unique_lock<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(393).integer(timeoutMs), 393, handle, status))
        return status;
    if (!memory || !imageId)
        return refuse(handle, kNullPointer, "null pointer for the image memory or its id");

    for (;;) {
        LiveCapture& capture = camera_->capture;
        if (!capture.queueInitialised())
            return refuse(handle, kQueueNotInitialised, "the image queue is not initialised");

        ImageMemory* image = capture.takeOldest();
        if (!image && capture.live() && options_.unpaced) {
            capture.produceFrameNow(camera_->aoi);
            image = capture.takeOldest();
            if (!image)
                return refuse(handle, kTimedOut, "no free image memory: every one is locked");
        }
        if (image) {
            *memory = image->bytes.get();
            *imageId = image->id;
            return kOk;
        }

        const std::int64_t now = nowNs();
        if (now >= deadline)
            return refuse(handle, kTimedOut, "no image arrived within " + std::to_string(timeoutMs) + " ms");
        std::int64_t wakeAt = std::min(deadline, now + kLongestSleepNs);
        if (capture.live())
            wakeAt = std::min(wakeAt, capture.nextFrameDueNs());

        lock.unlock();
        sleepUntil(wakeAt);
        lock.lock();

        if (!validHandle(handle))
            return refuse(handle, kInvalidHandle, "the camera was closed while waiting for an image");
        if (!options_.unpaced)
            camera_->capture.accountDueFrames(nowNs(), camera_->aoi);
    }
}

std::int32_t CameraModel::copyMemory(std::uint32_t handle, char* memory, int id, char* destination) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(85).word(memoryName(memory)).integer(id), 85, handle, status))
        return status;
    return refuse(handle, camera_->capture.copy(memory, id, destination));
}

std::int32_t CameraModel::unlockBuffer(std::uint32_t handle, int id, char* memory) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(72).integer(id).word(memoryName(memory)), 72, handle, status))
        return status;
    return refuse(handle, camera_->capture.unlock(id, memory));
}

std::int32_t CameraModel::captureStatusCommand(std::uint32_t handle, std::uint32_t command, void* param,
                                               std::uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(500).integer(command).address(param).integer(size), 500, handle, status))
        return status;
    if (command != kCaptureStatusReset)
        return refuse(handle, kNotSupported, "capture-status command " + std::to_string(command) + " is not supported");
    // Nothing ever goes wrong in capture here, so there is nothing to clear.
    return kOk;
}

// ---- last error ----

std::int32_t CameraModel::lastError(std::uint32_t handle, std::int32_t* code, char** text) {
    std::lock_guard<std::mutex> lock(mutex_);
    record(LogLine(23));
    std::int32_t status;
    if (takeForcedStatus(23, status))
        return refuse(handle, status, "forced status");

    // Reading the last error never changes it, not even when this call itself is wrong.
    const bool valid = validHandle(handle);
    const LastError& error = valid ? cameraError_ : handlelessError_;
    char* storage = valid ? cameraErrorText_ : handlelessErrorText_;
    const std::size_t length = std::min(error.text.size(), sizeof cameraErrorText_ - 1);
    std::memcpy(storage, error.text.data(), length);
    storage[length] = '\0';

    if (code)
        *code = error.code;
    if (text)
        *text = storage;
    if (!code || !text)
        return kNullPointer;
    return valid ? kOk : kInvalidHandle;
}

// ---- parameters ----

std::int32_t CameraModel::pixelClockCommand(std::uint32_t handle, std::uint32_t command, void* param,
                                            std::uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    LogLine line(514);
    line.integer(command).integer(size);
    if (command == kClockSet) {
        if (!param)
            line.word("null");
        else if (size >= 4)
            line.integer(readValue<std::int32_t>(param));
    }
    std::int32_t status;
    if (!admit(line, 514, handle, status))
        return status;

    if (command != kClockCount && command != kClockList && command != kClockCurrent && command != kClockSet)
        return refuse(handle, kNotSupported, "pixel-clock command " + std::to_string(command) + " is not supported");
    if (!param || size < 4)
        return refuse(handle, kNullPointer,
                      "pixel-clock command " + std::to_string(command) + " needs a parameter of at least 4 bytes");

    const std::vector<int> list = pixelClockList(options_.pixelClockCount);
    switch (command) {
    case kClockCount:
        writeValue(param, static_cast<std::uint32_t>(list.size()));
        break;
    case kClockList: {
        const std::size_t entries = std::min<std::size_t>(list.size(), size / 4);
        for (std::size_t i = 0; i < entries; ++i)
            writeValue(static_cast<char*>(param) + i * 4, static_cast<std::int32_t>(list[i]));
        break;
    }
    case kClockCurrent:
        writeValue(param, static_cast<std::int32_t>(camera_->pixelClockMHz));
        break;
    case kClockSet: {
        const std::int32_t wanted = readValue<std::int32_t>(param);
        if (std::find(list.begin(), list.end(), wanted) == list.end())
            return refuse(handle, kInvalidParameter, "pixel clock " + std::to_string(wanted) + " MHz is not supported");
        const SensorTiming before = camera_->timing();
        camera_->pixelClockMHz = wanted;
        retime(before);
        break;
    }
    }
    return kOk;
}

std::int32_t CameraModel::setFrameRate(std::uint32_t handle, double fps, double* actual) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(231).real(fps), 231, handle, status))
        return status;
    if (!actual)
        return refuse(handle, kNullPointer, "no place to return the frame rate");

    const SensorTiming timing = camera_->timing();
    if (fps == kReportCurrentRate) {
        *actual = timing.fpsOfFrameLines(camera_->frameLines);
        return kOk;
    }
    if (!std::isfinite(fps) || fps <= 0) {
        *actual = timing.fpsOfFrameLines(camera_->frameLines);
        return refuse(handle, kInvalidParameter, "frame rate " + number(fps) + " is not a positive number");
    }
    camera_->frameLines = timing.frameLinesForFps(fps);
    camera_->capture.changeFramePeriod(nowNs(), timing.frameNanoseconds(camera_->frameLines));
    fitExposure();
    *actual = timing.fpsOfFrameLines(camera_->frameLines);
    return kOk;
}

std::int32_t CameraModel::frameTimeRange(std::uint32_t handle, double* min, double* max, double* step) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(271), 271, handle, status))
        return status;
    if (!min || !max || !step)
        return refuse(handle, kNullPointer, "null pointer for the frame-time range");
    const SensorTiming timing = camera_->timing();
    *min = 1.0 / timing.maxFps();
    *max = 1.0 / kMinFps;
    *step = timing.lineSeconds();
    return kOk;
}

std::int32_t CameraModel::exposureCommand(std::uint32_t handle, std::uint32_t command, void* param,
                                          std::uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    LogLine line(496);
    line.integer(command).integer(size);
    if (command == kExposureSet) {
        if (!param)
            line.word("null");
        else if (size >= 8)
            line.real(readValue<double>(param));
    }
    std::int32_t status;
    if (!admit(line, 496, handle, status))
        return status;

    std::uint32_t needed = 0;
    switch (command) {
    case kExposureCaps: needed = 4; break;
    case kExposureRange:
    case kExposureFineRange: needed = 24; break;
    case kExposureCurrent:
    case kExposureSet: needed = 8; break;
    default:
        return refuse(handle, kNotSupported, "exposure command " + std::to_string(command) + " is not supported");
    }
    if (!param || size < needed)
        return refuse(handle, kNullPointer,
                      "exposure command " + std::to_string(command) + " needs a " + std::to_string(needed) + "-byte parameter");

    switch (command) {
    case kExposureCaps:
        writeValue(param, kExposureCapSettable | (options_.fineExposure ? kExposureCapFine : 0u));
        break;
    case kExposureRange:
        writeRange(param, coarseExposureRange(camera_->timing(), camera_->frameLines));
        break;
    case kExposureFineRange:
        if (!options_.fineExposure)
            return refuse(handle, kNotSupported, "this camera has no fine exposure increment");
        writeRange(param, fineExposureRange(camera_->timing(), camera_->frameLines));
        break;
    case kExposureCurrent:
        writeValue(param, camera_->exposureMs);
        break;
    case kExposureSet: {
        const double wanted = readValue<double>(param);
        const ExposureRange range = exposureRange();
        const double slack = 1e-9 * range.max;
        if (!std::isfinite(wanted) || wanted < 0 || wanted < range.min - slack || wanted > range.max + slack)
            return refuse(handle, kInvalidParameter,
                          "exposure " + number(wanted) + " ms is outside " + number(range.min) + " to " +
                              number(range.max) + " ms");
        camera_->exposureMs = roundToIncrement(range, wanted);
        writeValue(param, camera_->exposureMs);
        break;
    }
    }
    return kOk;
}

std::int32_t CameraModel::gammaCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    LogLine line(530);
    line.integer(command).integer(size);
    if (command == kGammaSet) {
        if (!param)
            line.word("null");
        else if (size >= 4)
            line.integer(readValue<std::int32_t>(param));
    }
    std::int32_t status;
    if (!admit(line, 530, handle, status))
        return status;

    if (command != kGammaSet && command != kGammaGet)
        return refuse(handle, kNotSupported, "gamma command " + std::to_string(command) + " is not supported");
    if (!param || size < 4)
        return refuse(handle, kNullPointer, "gamma command " + std::to_string(command) + " needs a 4-byte parameter");

    if (command == kGammaGet) {
        writeValue(param, static_cast<std::int32_t>(camera_->gamma));
        return kOk;
    }
    const std::int32_t gamma = readValue<std::int32_t>(param);
    if (gamma < 1 || gamma > 1000)
        return refuse(handle, kInvalidParameter, "gamma " + std::to_string(gamma) + " is outside 1 to 1000");
    camera_->gamma = gamma;
    return kOk;
}

std::int32_t CameraModel::hardwareGain(std::uint32_t handle, int master, int red, int green, int blue) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int32_t status;
    if (!admit(LogLine(215).integer(master).integer(red).integer(green).integer(blue), 215, handle, status))
        return status;
    if (master == kGainQuery)
        return camera_->masterGain;

    const int values[4] = {master, red, green, blue};
    for (int value : values)
        if (value != -1 && (value < 0 || value > 100))
            return refuse(handle, kInvalidParameter,
                          "gain " + std::to_string(value) + " is outside 0 to 100 (or -1 to leave it)");
    if (master != -1)
        camera_->masterGain = master;
    for (int channel = 0; channel < 3; ++channel)
        if (values[channel + 1] != -1)
            camera_->channelGains[channel] = values[channel + 1];
    return kOk;
}

CameraModel& cameraModel() {
    static CameraModel model;
    static const bool configured = (applyEnvironment(model), true);
    (void)configured;
    return model;
}

}  // namespace camera_sim
