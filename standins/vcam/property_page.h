#pragma once
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <string>

#include "device_info.h"
#include "module.h"

// The device's own property page: shows its name, current format and tag as plain text.
class PropertyPage final : public IPropertyPage {
public:
    static HRESULT create(REFIID iid, void** object);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPropertyPage
    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
    STDMETHODIMP Show(UINT command) override;
    STDMETHODIMP Move(LPCRECT rect) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR helpDir) override;
    STDMETHODIMP TranslateAccelerator(MSG* msg) override;

private:
    PropertyPage() = default;
    ~PropertyPage();
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    void fillTexts(HWND window) const;

    ModuleObjectCount count_;
    LONG refs_ = 1;
    Microsoft::WRL::ComPtr<IPropertyPageSite> site_;
    Microsoft::WRL::ComPtr<IVirtualCameraInfo> device_;
    HWND window_ = nullptr;
};
