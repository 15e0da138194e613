#pragma once
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <functional>
#include <mutex>
#include <string>

struct ISampleGrabber;

// A capture graph built from the platform's own filters, with no product code:
// capture filter (bound from a video-input device by friendly name) -> sample grabber
// (callback per frame) -> null renderer, connected by ICaptureGraphBuilder2::RenderStream.
// COM must be initialised on the calling thread.
class PlatformGraph {
public:
    // Bytes of one frame (valid during the call), its length, and its start time in seconds.
    using FrameCallback = std::function<void(const BYTE* data, long length, double sampleTime)>;

    PlatformGraph();
    ~PlatformGraph();
    PlatformGraph(const PlatformGraph&) = delete;
    PlatformGraph& operator=(const PlatformGraph&) = delete;

    // Builds the graph; the result of the first failing step (RenderStream's included).
    HRESULT open(const std::wstring& deviceName);
    // Called on the streaming thread for every frame; may be set at any time.
    void setCallback(FrameCallback callback);
    HRESULT run();
    HRESULT stop();

    // The pieces, for tests that look closer.
    IGraphBuilder* graph() const { return graph_.Get(); }
    ICaptureGraphBuilder2* builder() const { return builder_.Get(); }
    IBaseFilter* captureFilter() const { return capture_.Get(); }
    IBaseFilter* grabberFilter() const { return grabberFilter_.Get(); }
    ISampleGrabber* grabber() const { return grabber_.Get(); }
    IBaseFilter* nullRenderer() const { return renderer_.Get(); }
    IMediaControl* control() const { return control_.Get(); }
    IMediaEventEx* events() const { return events_.Get(); }
    // The sample grabber's output pin.
    Microsoft::WRL::ComPtr<IPin> grabberOutput() const;

    // Binds the named video-input device's filter (no graph); null when there is none.
    static HRESULT bindDevice(const std::wstring& deviceName, IBaseFilter** filter);

private:
    class Callback;

    Microsoft::WRL::ComPtr<IGraphBuilder> graph_;
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> builder_;
    Microsoft::WRL::ComPtr<IMediaControl> control_;
    Microsoft::WRL::ComPtr<IMediaEventEx> events_;
    Microsoft::WRL::ComPtr<IBaseFilter> capture_;
    Microsoft::WRL::ComPtr<IBaseFilter> grabberFilter_;
    Microsoft::WRL::ComPtr<ISampleGrabber> grabber_;
    Microsoft::WRL::ComPtr<IBaseFilter> renderer_;
    Callback* callback_ = nullptr;
};

// Class ids qedit.h leaves out.
extern const CLSID kSampleGrabberClsid;  // {C1F400A0-3F08-11D3-9F0B-006008039E37}
extern const CLSID kNullRendererClsid;   // {C1F400A4-3F08-11D3-9F0B-006008039E37}
