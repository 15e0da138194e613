// The filter's own property page, directly and in the platform's property frame.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;

namespace {

std::vector<std::wstring> childTexts(HWND window) {
    std::vector<std::wstring> texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM param) -> BOOL {
            wchar_t text[256] = L"";
            GetWindowTextW(child, text, 256);
            if (text[0])
                reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(text);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

bool contains(const std::vector<std::wstring>& texts, const std::wstring& text) {
    for (const auto& t : texts)
        if (t == text)
            return true;
    return false;
}

const std::wstring kFormatLine = L"Format: 320 x 240, YUY2, 30.00 fps";
const std::wstring kTagLine = L"Tag: 0x0000002A (42)";

}  // namespace

TEST(VcamPropertyPage, PageShowsTheDevicesNameFormatAndTag) {
    ComApartment com;
    VcamDevices devices({{L"a", L"Page Camera", std::wstring(L"320x240@30 YUY2;640x480@30 RGB24"), 42, {}, {}}});
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Page Camera", &filter), S_OK);

    ComPtr<IPropertyPage> page;
    ASSERT_EQ(CoCreateInstance(vcamPropertyPageClsid(), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&page)), S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, L"Virtual Camera");
    EXPECT_GT(info.size.cx, 0);
    EXPECT_GT(info.size.cy, 0);
    CoTaskMemFree(info.pszTitle);

    // Objects that are not the device are refused.
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)), S_OK);
    IUnknown* other = graph.Get();
    EXPECT_TRUE(FAILED(page->SetObjects(1, &other)));

    IUnknown* object = filter.Get();
    ASSERT_EQ(page->SetObjects(1, &object), S_OK);
    HWND parent = CreateWindowExW(0, L"STATIC", L"parent", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    RECT rect = {0, 0, 320, 120};
    ASSERT_EQ(page->Activate(parent, &rect, TRUE), S_OK);
    auto texts = childTexts(parent);
    EXPECT_TRUE(contains(texts, L"Device: Page Camera"));
    EXPECT_TRUE(contains(texts, kFormatLine));
    EXPECT_TRUE(contains(texts, kTagLine));
    EXPECT_EQ(page->Show(SW_SHOW), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_TRUE(childTexts(parent).empty());
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    DestroyWindow(parent);
}

TEST(VcamPropertyPage, PlatformPropertyFrameShowsThePageOfTheFilter) {
    ComApartment com;
    VcamDevices devices({{L"a", L"Page Camera", std::wstring(L"320x240@30 YUY2"), 42, {}, {}}});
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Page Camera", &filter), S_OK);
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(filter.As(&specify), S_OK);
    CAUUID pages{};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);

    // Nobody clicks: a watcher reads the open dialog and closes it.
    std::atomic<bool> found{false};
    std::vector<std::wstring> texts;
    std::thread watcher([&] {
        for (int i = 0; i < 200 && !found; ++i) {
            HWND dialog = FindWindowW(L"#32770", L"Properties for Camera Filter");
            if (dialog) {
                Sleep(200);
                texts = childTexts(dialog);
                found = true;
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            }
            Sleep(50);
        }
    });
    IUnknown* object = filter.Get();
    HRESULT hr = OleCreatePropertyFrame(nullptr, 0, 0, L"Camera Filter", 1, &object, pages.cElems, pages.pElems, 0, 0,
                                        nullptr);
    watcher.join();
    CoTaskMemFree(pages.pElems);
    EXPECT_EQ(hr, S_OK);
    ASSERT_TRUE(found);
    EXPECT_TRUE(contains(texts, kFormatLine));
    EXPECT_TRUE(contains(texts, kTagLine));
}
