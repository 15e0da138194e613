#pragma once
#include <windows.h>
#include <unknwn.h>

// The IUnknown of a heap object with one interface: its count starts at 1 when it is made, and
// it deletes itself when the count reaches 0.
template <typename Interface>
class SingleInterfaceObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, interfaceId_)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

protected:
    explicit SingleInterfaceObject(const IID& interfaceId) : interfaceId_(interfaceId) {}
    virtual ~SingleInterfaceObject() = default;

private:
    const IID& interfaceId_;
    LONG references_ = 1;
};
