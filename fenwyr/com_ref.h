#pragma once
#include <wrl/client.h>

// Takes over a reference someone already counted for us (an out parameter, a new object).
// Not ComPtr::Attach: mingw-w64's Attach adds a reference of its own, MSVC's does not, so on
// one of them every object so taken is never freed.
template <class T>
Microsoft::WRL::ComPtr<T> adoptReference(T* counted) {
    Microsoft::WRL::ComPtr<T> owner;
    *owner.GetAddressOf() = counted;
    return owner;
}
