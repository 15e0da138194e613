#include "property_page.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "media_type.h"
#include "video_format.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kTitle[] = L"Virtual Camera";
constexpr SIZE kPageSize = {320, 120};
constexpr WORD kNameText = 100;
constexpr WORD kFormatText = 101;
constexpr WORD kTagText = 102;

// A dialog template built in memory: a borderless child page with three lines of static text.
class DialogTemplate {
public:
    DialogTemplate() {
        DWORD style = WS_CHILD | DS_CONTROL | DS_SETFONT;
        addDword(style);
        addDword(0);           // extended style
        addWord(3);            // items
        addWord(0);            // x
        addWord(0);            // y
        addWord(210);          // cx, dialog units
        addWord(75);           // cy
        addWord(0);            // no menu
        addWord(0);            // default class
        addWord(0);            // no title
        addWord(8);            // font size
        addString(L"MS Shell Dlg");
        addStatic(kNameText, 7, 7);
        addStatic(kFormatText, 7, 22);
        addStatic(kTagText, 7, 37);
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void addWord(WORD w) { words_.push_back(w); }
    void addDword(DWORD d) {
        addWord(LOWORD(d));
        addWord(HIWORD(d));
    }
    void addString(const wchar_t* s) {
        for (; *s; ++s)
            addWord(static_cast<WORD>(*s));
        addWord(0);
    }
    void addStatic(WORD id, short x, short y) {
        if (words_.size() % 2)
            addWord(0);  // items start on a DWORD boundary
        addDword(WS_CHILD | WS_VISIBLE | SS_LEFT);
        addDword(0);
        addWord(static_cast<WORD>(x));
        addWord(static_cast<WORD>(y));
        addWord(196);
        addWord(12);
        addWord(id);
        addWord(0xFFFF);  // predefined class...
        addWord(0x0082);  // ...static
        addWord(0);       // empty text; filled in when the page opens
        addWord(0);       // no creation data
    }
    std::vector<WORD> words_;
};

}  // namespace

HRESULT PropertyPage::create(REFIID iid, void** object) {
    PropertyPage* page = nullptr;
    try {
        page = new PropertyPage();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = page->QueryInterface(iid, object);
    page->Release();
    return hr;
}

PropertyPage::~PropertyPage() {
    if (window_)
        DestroyWindow(window_);
}

STDMETHODIMP PropertyPage::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPropertyPage) {
        *object = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PropertyPage::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) PropertyPage::Release() {
    ULONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP PropertyPage::SetPageSite(IPropertyPageSite* site) {
    site_ = site;
    return S_OK;
}

STDMETHODIMP PropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (window_)
        return E_UNEXPECTED;
    try {
        DialogTemplate dialog;
        window_ = CreateDialogIndirectParamW(moduleHandle(), dialog.get(), parent, dialogProc,
                                             reinterpret_cast<LPARAM>(this));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (!window_)
        return HRESULT_FROM_WIN32(GetLastError());
    if (rect)
        Move(rect);
    return S_OK;
}

STDMETHODIMP PropertyPage::Deactivate() {
    if (!window_)
        return E_UNEXPECTED;
    DestroyWindow(window_);
    window_ = nullptr;
    return S_OK;
}

STDMETHODIMP PropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info)
        return E_POINTER;
    std::memset(info, 0, sizeof(*info));
    info->cb = sizeof(*info);
    info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(kTitle)));
    if (!info->pszTitle)
        return E_OUTOFMEMORY;
    std::memcpy(info->pszTitle, kTitle, sizeof(kTitle));
    info->size = kPageSize;
    return S_OK;
}

STDMETHODIMP PropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    device_.Reset();
    if (count == 0)
        return S_OK;
    if (!objects)
        return E_POINTER;
    for (ULONG i = 0; i < count && !device_; ++i)
        if (objects[i])
            objects[i]->QueryInterface(IID_IVirtualCameraInfo, reinterpret_cast<void**>(device_.GetAddressOf()));
    if (!device_)
        return E_NOINTERFACE;
    if (window_) {
        try {
            fillTexts(window_);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

STDMETHODIMP PropertyPage::Show(UINT command) {
    if (!window_)
        return E_UNEXPECTED;
    ShowWindow(window_, static_cast<int>(command));
    return S_OK;
}

STDMETHODIMP PropertyPage::Move(LPCRECT rect) {
    if (!rect)
        return E_POINTER;
    if (!window_)
        return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

// Nothing on the page can be changed.
STDMETHODIMP PropertyPage::IsPageDirty() { return S_FALSE; }
STDMETHODIMP PropertyPage::Apply() { return S_OK; }
STDMETHODIMP PropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }
STDMETHODIMP PropertyPage::TranslateAccelerator(MSG*) { return S_FALSE; }

void PropertyPage::fillTexts(HWND window) const {
    std::wstring name = L"Device: ";
    std::wstring format = L"Format: ";
    std::wstring tag = L"Tag: ";
    if (device_) {
        wchar_t buffer[128] = L"";
        if (SUCCEEDED(device_->GetFriendlyName(buffer, 128)))
            name += buffer;
        AM_MEDIA_TYPE mt{};
        if (SUCCEEDED(device_->GetCurrentFormat(&mt))) {
            format += describeMediaType(mt);
            freeMediaTypeContents(mt);
        } else {
            format += L"none";
        }
        DWORD value = 0;
        if (SUCCEEDED(device_->GetTag(&value))) {
            std::swprintf(buffer, 128, L"0x%08lX (%lu)", static_cast<unsigned long>(value),
                          static_cast<unsigned long>(value));
            tag += buffer;
        }
    }
    SetDlgItemTextW(window, kNameText, name.c_str());
    SetDlgItemTextW(window, kFormatText, format.c_str());
    SetDlgItemTextW(window, kTagText, tag.c_str());
}

INT_PTR CALLBACK PropertyPage::dialogProc(HWND window, UINT message, WPARAM, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<PropertyPage*>(lparam);
        try {
            page->fillTexts(window);
        } catch (...) {
            // The page stays blank rather than letting an exception into the dialog manager.
        }
        return TRUE;
    }
    return FALSE;
}
