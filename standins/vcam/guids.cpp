#include "guids.h"

const CLSID CLSID_VirtualCameraFilter =
    {0xEAA15466, 0x3846, 0x4E8B, {0xA8, 0x6D, 0x3C, 0x5D, 0xB1, 0xFA, 0xFD, 0x23}};
const CLSID CLSID_VirtualCameraPropertyPage =
    {0xA87FE209, 0x0F7A, 0x40FC, {0x8F, 0x4C, 0x02, 0xD2, 0x53, 0xF4, 0x0B, 0x71}};
const CLSID CLSID_VideoInputCategory =
    {0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

#define VCAM_FOURCC_SUBTYPE(a, b, c, d)                                                                \
    {static_cast<unsigned long>(a) | static_cast<unsigned long>(b) << 8 | static_cast<unsigned long>(c) << 16 | \
         static_cast<unsigned long>(d) << 24,                                                                 \
     0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}
const GUID kSubtypeUyvy = VCAM_FOURCC_SUBTYPE('U', 'Y', 'V', 'Y');
const GUID kSubtypeI420 = VCAM_FOURCC_SUBTYPE('I', '4', '2', '0');
const GUID kSubtypeYv12 = VCAM_FOURCC_SUBTYPE('Y', 'V', '1', '2');
const GUID kSubtypeY800 = VCAM_FOURCC_SUBTYPE('Y', '8', '0', '0');
const GUID kSubtypeGrey = VCAM_FOURCC_SUBTYPE('G', 'R', 'E', 'Y');
const GUID kSubtypeY8 = VCAM_FOURCC_SUBTYPE('Y', '8', ' ', ' ');

#include "device_info.h"

const IID IID_IVirtualCameraInfo =
    {0x3C1B7E0A, 0x52D4, 0x4B61, {0x9C, 0x0F, 0x8E, 0x2A, 0x6D, 0x4F, 0x1B, 0x37}};
