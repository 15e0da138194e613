#pragma once
#include <windows.h>
#include <guiddef.h>

// Class ids of this server's two COM classes.
extern const CLSID CLSID_VirtualCameraFilter;        // {EAA15466-3846-4E8B-A86D-3C5DB1FAFD23}
extern const CLSID CLSID_VirtualCameraPropertyPage;  // {A87FE209-0F7A-40FC-8F4C-02D253F40B71}

// The video-input device category the devices are listed in.
extern const CLSID CLSID_VideoInputCategory;         // {860BB310-5D01-11D0-BD3B-00A0C911CE86}

// FOURCC subtypes that not every SDK's uuids name: {XXXXXXXX-0000-0010-8000-00AA00389B71}.
extern const GUID kSubtypeUyvy;
extern const GUID kSubtypeI420;
extern const GUID kSubtypeYv12;
extern const GUID kSubtypeY800;
extern const GUID kSubtypeGrey;
extern const GUID kSubtypeY8;
