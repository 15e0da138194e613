#pragma once
#include <windows.h>
#include <dshow.h>
#include <unknwn.h>

// What the device's property page shows; the filter's private interface.
extern const IID IID_IVirtualCameraInfo;  // {3C1B7E0A-52D4-4B61-9C0F-8E2A6D4F1B37}

struct IVirtualCameraInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTag(DWORD* tag) = 0;
    // The format the capture pin delivers (or will deliver); the caller frees its contents.
    virtual HRESULT STDMETHODCALLTYPE GetCurrentFormat(AM_MEDIA_TYPE* mt) = 0;
    // The device's friendly name, truncated to `capacity` characters with the terminator.
    virtual HRESULT STDMETHODCALLTYPE GetFriendlyName(LPWSTR name, UINT capacity) = 0;
};
