#pragma once
#include <windows.h>
#include <dshow.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <memory>
#include <mutex>
#include <string>

#include "analog_decoder.h"
#include "camera_control.h"
#include "capture_card.h"
#include "capture_pin.h"
#include "crossbar.h"
#include "device_config.h"
#include "device_controls.h"
#include "device_info.h"
#include "device_presence.h"
#include "dropped_frames.h"
#include "frame_counters.h"
#include "frame_pump.h"
#include "module.h"
#include "video_proc_amp.h"

// The virtual capture device: a live source filter with one output pin. The device moniker
// configures it through IPersistPropertyBag when it binds.
class CaptureFilter final : public IBaseFilter,
                      public IPersistPropertyBag,
                      public IAMFilterMiscFlags,
                      public ISpecifyPropertyPages,
                      public IVirtualCameraInfo,
                      public DroppedFramesReport,
                      public VideoProcAmp,
                      public CameraControl,
                      public Crossbar,
                      public AnalogDecoder,
                      private GraphNotifier {
public:
    static HRESULT create(REFIID iid, void** object);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* clsid) override;

    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

    // IPersistPropertyBag
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IVirtualCameraInfo
    STDMETHODIMP GetTag(DWORD* tag) override;
    STDMETHODIMP GetCurrentFormat(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetFriendlyName(LPWSTR name, UINT capacity) override;

    // For the pin.
    std::recursive_mutex& lock() { return lock_; }
    FILTER_STATE state() const { return state_; }
    const DeviceConfig& config() const { return config_; }
    const FrameCounters& counters() const { return counters_; }
    // The graph we joined (no reference of our own: the graph holds us).
    IFilterGraph* graph() const { return graph_; }

private:
    CaptureFilter();
    ~CaptureFilter();
    HRESULT pauseFromStopped();
    void notifyGraph(long code, LONG_PTR param1, LONG_PTR param2) override;
    // What EC_DEVICE_LOST carries as its first parameter: our IUnknown.
    LONG_PTR identity();

    ModuleObjectCount count_;
    LONG refs_ = 1;
    std::recursive_mutex lock_;
    FILTER_STATE state_ = State_Stopped;
    Microsoft::WRL::ComPtr<IReferenceClock> clock_;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    DeviceConfig config_;
    FrameCounters counters_;  // before the pin, which reports them too
    DevicePresence presence_;
    DeviceControls controls_;  // for the filter's life, whatever streams come and go
    CaptureCard card_;         // likewise: routing and standard last the filter's life
    CapturePin pin_;
    std::unique_ptr<FramePump> pump_;
};
