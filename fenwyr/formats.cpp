#include "formats.h"

#include <objbase.h>

namespace {

constexpr size_t kCapabilityRecords = 1024;

}  // namespace

namespace formats {

ResolutionInfo* getResolutions(CaptureDevice*) {
    auto* block = static_cast<ResolutionInfo*>(CoTaskMemAlloc(sizeof(ResolutionInfo) * kCapabilityRecords));
    if (!block)
        return nullptr;
    for (size_t i = 0; i < kCapabilityRecords; ++i)
        block[i] = ResolutionInfo{-1, -1, -1, -1, -1.0f, -1};
    return block;
}

ResolutionInfo* getResolution(CaptureDevice*) {
    auto* record = static_cast<ResolutionInfo*>(CoTaskMemAlloc(sizeof(ResolutionInfo)));
    if (record)
        *record = ResolutionInfo{-1, 1, 1, 1, 1.0f, 0};
    return record;
}

void setResolution(CaptureDevice&, int32_t) {}

}  // namespace formats
