/* The C host's fenwyr part (see host.c). */
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include "fenwyr.h"

int useFenwyr(const char** version) {
    *version = FENWYR_VERSION;
    if (strcmp(FENWYR_VERSION, EXPECTED_VERSION) != 0) {
        printf("version macro %s, expected %s\n", FENWYR_VERSION, EXPECTED_VERSION);
        return 1;
    }
    init();
    DeviceInfo* devices = listDevices();
    if (!devices) {
        printf("no device block\n");
        return 1;
    }
    CoTaskMemFree(devices);
    uninit();
    return 0;
}
