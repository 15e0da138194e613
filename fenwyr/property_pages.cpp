#include "property_pages.h"

namespace property_pages {

HRESULT showFilterProperties(CaptureDevice&) {
    return E_NOTIMPL;
}

HRESULT showCapturePinProperties(CaptureDevice&) {
    return E_NOTIMPL;
}

}  // namespace property_pages
