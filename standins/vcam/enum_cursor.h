#pragma once
#include <windows.h>

#include <cstddef>

// The position of an IEnum* object over a fixed list of `size` items: what Skip, Reset and
// Next share between the pin and the media type enumerators.
class EnumCursor {
public:
    EnumCursor(size_t size, size_t position) : size_(size), position_(position) {}

    size_t position() const { return position_; }

    // IEnum*::Next: hands out up to `count` items from here. take(index, &item) gives out a
    // new reference to the item at index and fails only for want of memory; drop(item) gives
    // one back. On failure the items already handed out are given back and none are fetched.
    template <class Item, class Take, class Drop>
    HRESULT next(ULONG count, Item** items, ULONG* fetched, Take take, Drop drop) {
        if (!items || (count > 1 && !fetched))
            return E_POINTER;
        ULONG done = 0;
        while (done < count && position_ < size_) {
            if (!take(position_, &items[done])) {
                for (ULONG i = 0; i < done; ++i) {
                    drop(items[i]);
                    items[i] = nullptr;
                }
                if (fetched)
                    *fetched = 0;
                return E_OUTOFMEMORY;
            }
            ++done;
            ++position_;
        }
        if (fetched)
            *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }

    // IEnum*::Skip: past the end leaves the cursor at the end.
    HRESULT skip(ULONG count) {
        if (count > size_ - position_) {
            position_ = size_;
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }

    void reset() { position_ = 0; }

private:
    size_t size_;
    size_t position_;
};

// IEnum*::Clone: `make` builds the copy; it throws only for want of memory.
template <class Interface, class Make>
HRESULT cloneEnumerator(Interface** clone, Make make) {
    if (!clone)
        return E_POINTER;
    *clone = nullptr;
    try {
        *clone = make();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
