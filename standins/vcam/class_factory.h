#pragma once
#include <windows.h>
#include <unknwn.h>

#include "module.h"

// Class object for both classes of the server: the capture filter and its property page.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(REFCLSID clsid);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ModuleObjectCount count_;
    LONG refs_ = 1;
    CLSID clsid_;
};
