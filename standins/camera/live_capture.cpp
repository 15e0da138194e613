#include "live_capture.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace camera_sim {

namespace {

std::string memoryName(int id) {
    return "image memory " + std::to_string(id);
}

}  // namespace

Outcome LiveCapture::allocate(int width, int height, int bitsPerPixel, int id, char** memory) {
    if (!memory)
        return Outcome::refuse(kNullPointer, "no place to return the image memory");
    if (width <= 0 || height <= 0 || width > kSensorWidth || height > kSensorHeight)
        return Outcome::refuse(kInvalidParameter, "image memory size " + std::to_string(width) + " x " +
                                                      std::to_string(height) + " is outside 1 x 1 to 1280 x 1024");
    if (bitsPerPixel <= 0 || bitsPerPixel > 32 || bitsPerPixel % 8 != 0)
        return Outcome::refuse(kInvalidParameter,
                               "bits per pixel " + std::to_string(bitsPerPixel) + " is not 8, 16, 24 or 32");

    auto image = std::make_unique<ImageMemory>();
    image->id = id;
    image->width = width;
    image->height = height;
    image->bitsPerPixel = bitsPerPixel;
    image->pitch = width * (bitsPerPixel / 8);
    image->bytes.reset(new (std::nothrow) char[image->size()]());
    if (!image->bytes)
        return Outcome::refuse(kOutOfMemory, "no memory left for a " + std::to_string(image->size()) + "-byte image");

    *memory = image->bytes.get();
    memories_.push_back(std::move(image));
    return Outcome::success();
}

Outcome LiveCapture::release(const char* memory, int id) {
    Outcome failure;
    ImageMemory* image = findExact(memory, id, failure);
    if (!image)
        return failure;
    if (image->inSequence)
        return Outcome::refuse(kMemoryInUse, memoryName(id) + " is still in the capture sequence");

    memories_.erase(std::find_if(memories_.begin(), memories_.end(),
                                 [image](const std::unique_ptr<ImageMemory>& m) { return m.get() == image; }));
    return Outcome::success();
}

Outcome LiveCapture::addToSequence(const char* memory, int id) {
    Outcome failure;
    ImageMemory* image = findExact(memory, id, failure);
    if (!image)
        return failure;
    if (image->inSequence)
        return Outcome::refuse(kInvalidParameter, memoryName(id) + " is already in the capture sequence");

    image->inSequence = true;
    sequence_.push_back(image);
    return Outcome::success();
}

void LiveCapture::clearSequence() {
    for (ImageMemory* image : sequence_) {
        image->inSequence = false;
        if (image->state == ImageMemory::State::Queued)
            image->state = ImageMemory::State::Free;
    }
    sequence_.clear();
    queue_.clear();
    nextToFill_ = 0;
}

Outcome LiveCapture::initQueue(int mode) {
    if (mode != 0)
        return Outcome::refuse(kInvalidParameter, "image queue mode " + std::to_string(mode) + " is not supported");
    flushQueue();
    queueInitialised_ = true;
    return Outcome::success();
}

void LiveCapture::exitQueue() {
    flushQueue();
    // The queue no longer holds anything: taken memories go back to the camera too.
    for (auto& image : memories_)
        image->state = ImageMemory::State::Free;
    queueInitialised_ = false;
}

Outcome LiveCapture::start(std::int64_t nowNs, std::int64_t frameNs) {
    if (sequence_.empty())
        return Outcome::refuse(kSequenceEmpty, "no image memory in the capture sequence");
    if (live_)
        return Outcome::success();

    live_ = true;
    frameCounter_ = 0;
    nextToFill_ = 0;
    frameNs_ = frameNs;
    // The first frame needs one whole period to expose and read out.
    nextDueNs_ = nowNs + frameNs;
    return Outcome::success();
}

void LiveCapture::stop() {
    live_ = false;
    flushQueue();
}

void LiveCapture::accountDueFrames(std::int64_t nowNs, const AoiRect& aoi) {
    if (!live_ || nowNs < nextDueNs_)
        return;

    const std::int64_t due = (nowNs - nextDueNs_) / frameNs_ + 1;
    std::int64_t filled = 0;
    // Only the first frames can find a free memory: nothing frees one until the host calls again.
    while (filled < due) {
        ImageMemory* image = nextFreeInSequence();
        if (!image)
            break;
        fill(*image, aoi);
        ++filled;
    }
    const std::int64_t dropped = due - filled;
    frameCounter_ += static_cast<std::uint32_t>(dropped);
    stats_.framesDropped += dropped;
    nextDueNs_ += due * frameNs_;
}

void LiveCapture::changeFramePeriod(std::int64_t nowNs, std::int64_t frameNs) {
    if (live_) {
        const std::int64_t lastDue = nextDueNs_ - frameNs_;
        nextDueNs_ = std::max(lastDue + frameNs, nowNs);
    }
    frameNs_ = frameNs;
}

void LiveCapture::produceFrameNow(const AoiRect& aoi) {
    if (!live_)
        return;
    if (ImageMemory* image = nextFreeInSequence()) {
        fill(*image, aoi);
    } else {
        ++frameCounter_;
        ++stats_.framesDropped;
    }
}

void LiveCapture::restartPacing(std::int64_t nowNs) {
    nextDueNs_ = nowNs + frameNs_;
}

ImageMemory* LiveCapture::takeOldest() {
    if (queue_.empty())
        return nullptr;
    ImageMemory* image = queue_.front();
    queue_.pop_front();
    image->state = ImageMemory::State::Locked;
    return image;
}

Outcome LiveCapture::copy(const char* memory, int id, char* destination) const {
    const ImageMemory* image = find(memory);
    if (!image || image->id != id)
        return Outcome::refuse(kInvalidMemory, memory ? "not an image memory of this camera with id " + std::to_string(id)
                                                      : std::string("null image memory"));
    if (!destination)
        return Outcome::refuse(kNullPointer, "null destination for the image copy");
    std::memcpy(destination, image->bytes.get(), image->size());
    return Outcome::success();
}

Outcome LiveCapture::unlock(int id, const char* memory) {
    ImageMemory* image = nullptr;
    if (id == -1) {
        if (!memory)
            return Outcome::refuse(kNullPointer, "null image memory and no id to unlock");
        image = const_cast<ImageMemory*>(find(memory));
    } else {
        for (auto& candidate : memories_)
            if (candidate->id == id)
                image = candidate.get();
        if (image && memory && image->bytes.get() != memory)
            return Outcome::refuse(kInvalidMemory, "the memory address does not belong to " + memoryName(id));
    }
    if (!image)
        return Outcome::refuse(kInvalidMemory, "not an image memory of this camera");

    if (image->state == ImageMemory::State::Locked)
        image->state = ImageMemory::State::Free;
    return Outcome::success();
}

const ImageMemory* LiveCapture::find(const char* memory) const {
    if (!memory)
        return nullptr;
    for (const auto& image : memories_)
        if (image->bytes.get() == memory)
            return image.get();
    return nullptr;
}

ImageMemory* LiveCapture::findExact(const char* memory, int id, Outcome& failure) {
    if (!memory) {
        failure = Outcome::refuse(kNullPointer, "null image memory");
        return nullptr;
    }
    for (auto& image : memories_) {
        if (image->bytes.get() != memory)
            continue;
        if (image->id != id) {
            failure = Outcome::refuse(kInvalidMemory, "id " + std::to_string(id) + " does not belong to " +
                                                          memoryName(image->id));
            return nullptr;
        }
        return image.get();
    }
    failure = Outcome::refuse(kInvalidMemory, "not an image memory of this camera");
    return nullptr;
}

ImageMemory* LiveCapture::nextFreeInSequence() {
    if (!queueInitialised_ || sequence_.empty())
        return nullptr;
    // Round the ring, starting after the memory filled last.
    for (std::size_t step = 0; step < sequence_.size(); ++step) {
        std::size_t position = (nextToFill_ + step) % sequence_.size();
        if (sequence_[position]->state == ImageMemory::State::Free) {
            nextToFill_ = position + 1;
            return sequence_[position];
        }
    }
    return nullptr;
}

void LiveCapture::fill(ImageMemory& image, const AoiRect& aoi) {
    renderFrame(aoi, image.bytes.get(), image.pitch, image.height, frameCounter_);
    ++frameCounter_;
    ++stats_.framesProduced;
    image.state = ImageMemory::State::Queued;
    queue_.push_back(&image);
}

void LiveCapture::flushQueue() {
    for (ImageMemory* image : queue_)
        image->state = ImageMemory::State::Free;
    queue_.clear();
}

}  // namespace camera_sim
