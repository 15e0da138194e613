/* The public header compiles as C, its layout checks included. */
#include "fenwyr.h"

size_t fenwyrDeviceInfoSizeSeenFromC(void) {
    return sizeof(DeviceInfo) + sizeof(ResolutionInfo);
}
