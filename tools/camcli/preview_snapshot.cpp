#include "preview_snapshot.h"

#include <wincodec.h>

#include <cstdio>
#include <stdexcept>

#include "png_writer.h"
#include "utf8.h"

std::string savePicture(const Picture& picture, const std::string& stem) {
    if (picture.width <= 0 || picture.height <= 0)
        throw std::runtime_error("no picture yet");
    for (int n = 1; n < 100000; ++n) {
        const std::string name = stem + "_" + std::to_string(n) + ".png";
        if (GetFileAttributesW(fromUtf8(name).c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        writePng(fromUtf8(name), static_cast<UINT>(picture.width), static_cast<UINT>(picture.height),
                 picture.bytesPerPixel == 1 ? GUID_WICPixelFormat8bppGray : GUID_WICPixelFormat32bppBGRA,
                 picture.pixels.data(), static_cast<UINT>(picture.width * picture.bytesPerPixel));
        return name;
    }
    throw std::runtime_error("no free file name for " + stem);
}

std::string snapshot(const Picture& picture, const std::string& stem) {
    try {
        const std::string name = savePicture(picture, stem);
        std::printf("saved %s\n", name.c_str());
        std::fflush(stdout);
        return "saved " + name;
    } catch (const std::exception& e) {
        return e.what();
    }
}
