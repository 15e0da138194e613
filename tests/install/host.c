/* A C host built from the installed headers and import libraries alone: it links both DLLs,
 * checks their version macros and calls each library once. Both DLLs export startCapture, so
 * each header has a translation unit of its own (host_fenwyr.c), and the link names tarvik's
 * import library first: this host calls tarvik's startCapture only. */
#include <stdio.h>
#include <string.h>

#include "tarvik.h"

int useFenwyr(const char** version);

int main(void) {
    if (strcmp(TARVIK_VERSION, EXPECTED_VERSION) != 0) {
        printf("version macro %s, expected %s\n", TARVIK_VERSION, EXPECTED_VERSION);
        return 1;
    }
    CameraContext* camera = findAvailableCamera();
    if (!camera) {
        printf("no camera\n");
        return 1;
    }
    AoiRect aoi = {0, 0, 64, 32};
    setAoi(camera, &aoi);
    unsigned char frame[64 * 32];
    int copied = startCapture(camera) == 0 && captureFrameChecked(camera, frame, (int32_t)sizeof frame) == 1;
    stopCurrentCapture(camera);
    closeCamera(camera);
    if (!copied) {
        printf("no frame from the camera\n");
        return 1;
    }

    const char* fenwyrVersion = "";
    if (useFenwyr(&fenwyrVersion) != 0)
        return 1;
    printf("host done: tarvik %s, fenwyr %s\n", TARVIK_VERSION, fenwyrVersion);
    return 0;
}
