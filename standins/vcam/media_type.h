#pragma once
#include <windows.h>
#include <dshow.h>

// AM_MEDIA_TYPE with value semantics: owns its format block (CoTaskMem) and its pUnk.
class MediaType {
public:
    MediaType();
    explicit MediaType(const AM_MEDIA_TYPE& source);
    MediaType(const MediaType& other);
    MediaType(MediaType&& other) noexcept;
    MediaType& operator=(const MediaType& other);
    MediaType& operator=(MediaType&& other) noexcept;
    ~MediaType();

    const AM_MEDIA_TYPE& get() const { return mt_; }
    AM_MEDIA_TYPE& get() { return mt_; }
    bool empty() const { return mt_.majortype == GUID_NULL; }

    // Gives the format block a new size; its bytes are zero.
    BYTE* allocateFormat(ULONG size);

    // Copies into a caller's structure (its old contents are not freed).
    HRESULT copyTo(AM_MEDIA_TYPE& target) const;
    // A CoTaskMem-allocated copy, as IEnumMediaTypes and IAMStreamConfig hand out.
    AM_MEDIA_TYPE* createCopy() const;

private:
    void clear();
    AM_MEDIA_TYPE mt_;
};

// Frees the contents of a media type that COM handed us, and the structure itself.
void freeMediaTypeContents(AM_MEDIA_TYPE& mt);
void deleteMediaType(AM_MEDIA_TYPE* mt);

// Same major type, subtype, format type and format block.
bool sameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
