#pragma once
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <vector>

#include "dropped_frames.h"
#include "frame_pump.h"
#include "media_type.h"
#include "video_format.h"

class CaptureFilter;

// An output pin of the filter: "Capture" (PIN_CATEGORY_CAPTURE) offers the device's formats and
// reports the filter's dropped frames; "Still" (PIN_CATEGORY_STILL) offers its still formats.
// Either lets its formats be chosen through IAMStreamConfig and negotiates the allocator its
// frames are taken from. It lives inside its filter and shares the filter's reference count and lock.
class CapturePin : public IPin, public IKsPropertySet, public IAMStreamConfig, public DroppedFramesReport {
public:
    CapturePin(CaptureFilter& filter, bool still);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IKsPropertySet
    STDMETHODIMP Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data, DWORD dataSize) override;
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data, DWORD dataSize,
                     DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

    // For the filter, under its lock.
    bool isConnected() const { return peer_ != nullptr; }
    // Commits the allocator and describes the stream for the streaming thread.
    HRESULT prepareStreaming(PumpSettings& settings);
    IMemAllocator* allocator() const { return allocator_.Get(); }
    // The format the pin delivers, or would deliver if connected now.
    HRESULT currentFormat(MediaType& format) const;
    // The index of the connected type's capability, or -1.
    int connectedCapability() const;
    // The type of the capability after the connected one (NewTypeAfter), empty when there is none.
    MediaType followingCapability() const;
    // The stream went on in `type`: the connection now has it.
    void followStream(const MediaType& type);

    // The connected type, or an empty one.
    const MediaType& connectedType() const { return connectedType_; }

private:
    const std::vector<VideoFormat>& formats() const;
    const wchar_t* name() const;
    const VideoFormat* matchingCapability(const AM_MEDIA_TYPE& mt) const;
    std::vector<MediaType> offeredTypes() const;
    HRESULT attemptConnection(IPin* peer, const AM_MEDIA_TYPE& mt);
    HRESULT decideAllocator(IMemInputPin* input, DWORD bufferSize);
    HRESULT reconnect(IFilterGraph2* graph, const MediaType& format);

    CaptureFilter& filter_;
    const bool still_;
    Microsoft::WRL::ComPtr<IPin> peer_;
    Microsoft::WRL::ComPtr<IMemInputPin> peerInput_;
    Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
    MediaType connectedType_;
    MediaType chosenFormat_;  // set by SetFormat or the last connection; offered first
};
