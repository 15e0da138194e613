#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <wrl/client.h>

#include "device_identity.h"
#include "fenwyr.h"
#include "guids.h"
#include "media_type.h"
#include "module_pin.h"
#include "sample_handler.h"
#include "still_branch.h"

// One video-input device of the device table and, once opened, its filter graph:
// capture filter -> (Smart Tee) -> sample grabber -> null renderer, and, for a device with a
// still pin, still pin -> sample grabber -> null renderer beside it (see still_branch.h).
// Records are never destroyed while the process runs; close() releases what they hold.
struct CaptureDevice {
    // Output pin and the input pin it feeds.
    using PinChain = std::vector<std::pair<Microsoft::WRL::ComPtr<IPin>, Microsoft::WRL::ComPtr<IPin>>>;

    CaptureDevice(Microsoft::WRL::ComPtr<IMoniker> deviceMoniker, DeviceIdentityText deviceIdentity, int32_t deviceIndex);
    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    // Builds the graph, stopped, and starts the event thread. A device that is already open
    // (or partly built by a failed open) is torn down first. Prints the first failure.
    // Refused (false, nothing printed) from inside a host callback, which it would wait for,
    // while another operation of this record is under way (see busy()), and while uninit runs.
    bool open();
    // Stops the graph, ends the event thread, revokes the registration and releases everything.
    // False, doing nothing, while another operation of this record is under way.
    bool close();
    // Run and stop the graph: E_POINTER unless open() completed; VFW_E_WRONG_STATE from inside
    // a host callback, where stopping would wait for the callback itself, and while busy().
    HRESULT startCapture();
    HRESULT stopCapture();
    // For a recovery: a new graph from the moniker (or, when that no longer binds, from the
    // device enumerated again), STOPPED, its event thread started; on failure the state stays as
    // it was. Prints nothing. Refused like startCapture.
    HRESULT rebuild();
    // Runs a rebuilt graph: as startCapture, but the frames' sequence goes on.
    HRESULT resume();
    // True while an open, close, start, stop or format change of this record runs on the init
    // thread; it may be handling the host's sent messages, whose handlers then cannot nest one.
    bool busy() const { return busy_; }
    // Gives a closed record its device back when the device is enumerated again.
    void rebind(Microsoft::WRL::ComPtr<IMoniker> deviceMoniker);
    // The described frame callback with the host's pointer; see setFrameCallbackEx.
    void setFrameCallbackEx(FrameCallbackEx callback, void* userData);
    // Applies a new stream format: stops a running graph, disconnects the chain from the capture
    // pin down, sets `format`, connects the chain again (so every filter takes the new type) and
    // runs the graph again if it ran. When the new format cannot be connected, or connects but
    // cannot run, the old one is put back (and run); when that fails too the device is FAILED
    // until opened again. The first failure is returned. E_POINTER when not open; VFW_E_WRONG_STATE in a callback or while busy().
    HRESULT changeFormat(IAMStreamConfig* config, AM_MEDIA_TYPE* format);
    // What the described callback and grabFrame get; see setOutputFormat. Any thread.
    void setOutput(int32_t output) {
        sampleHandler_.setOutput(output);
        stills_.handler().setOutput(output);
    }
    int32_t output() const { return sampleHandler_.output(); }
    // The newest frame for a polling host, from any thread; see grabFrame. VFW_E_WRONG_STATE
    // inside this device's own frame callback, where the frame waited for cannot come.
    HRESULT grabFrame(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs);
    // Stills (see takeStill): E_POINTER when not open, E_PROP_ID_UNSUPPORTED without a still pin.
    int32_t stillFormats(FormatInfo* formats, int32_t capacity);
    // Applies a still capability as changeFormat applies a stream format: a running graph stops
    // and runs again (the stream's sequence goes on). VFW_E_WRONG_STATE in a callback or while busy().
    HRESULT changeStillFormat(int32_t capability);
    // Triggers the still pin and waits for the still. VFW_E_WRONG_STATE in a host callback or while busy().
    HRESULT takeStill(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs);
    // Any thread: the next unread still, without triggering; see grabStill.
    HRESULT grabStill(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs) {
        return stills_.grab(buffer, capacity, info, timeoutMs);
    }
    // Where stills go; kept across opens. E_PROP_ID_UNSUPPORTED (nothing set) for a callback on an
    // open device without a still pin; null is always taken.
    HRESULT setStillCallback(FrameCallbackEx callback, void* userData);
    // What the stream did since the open. Any thread.
    SampleHandler::Counters counters() const { return sampleHandler_.counters(); }
    int64_t droppedFrameCount() const { return sampleHandler_.dropped(); }
    // RUNNING or STALLED.
    bool streaming() const { return state == FENWYR_STATE_RUNNING || state == FENWYR_STATE_STALLED; }

    // What a recovery puts back: the host's choices since the open. Init thread.
    struct HostChoices {
        int32_t capability = -1;  // -1: none made
        double fps = 0.0;
        int32_t stillCapability = -1;  // -1: none made
        std::map<int32_t, std::pair<int32_t, int32_t>> controls;  // control: value, flags
        int32_t input = -1;    // a capture card's input selected; -1: none
        int32_t standard = 0;  // its decoder's standard set; 0: none
    };
    HostChoices choices;
    // Stall detection and recovery (see supervision.h): the settings stay until uninit, the
    // counters start again with each open.
    struct Watch {
        std::atomic<int32_t> stallMs{0};
        std::atomic<int32_t> flags{0};
        std::atomic<int32_t> stalls{0};
        std::atomic<int32_t> recoveries{0};
        std::atomic<int32_t> failedAttempts{0};
        // Recovery attempts since the stream last stalled, was lost or failed.
        std::atomic<int32_t> attempts{0};
        // A recovered graph runs and its first frame is awaited.
        std::atomic<bool> awaitingFrame{false};
        // When the current run started (FrameInfo's clock) and how many frames had come by then.
        std::atomic<int64_t> runStartedAt{0};
        std::atomic<int64_t> framesAtRun{0};
        // Event thread only: frames when the stream stalled.
        int64_t framesAtStall = 0;

        void restart() {
            stalls = recoveries = failedAttempts = attempts = 0;
            awaitingFrame = false;
        }
        void runStarted(int64_t frames);
    } watch;
    // The last open succeeded and no close followed.
    std::atomic<bool> opened{false};
    // The host started the device and has not stopped it since.
    std::atomic<bool> wantsRunning{false};
    // Unplugged and not back yet.
    std::atomic<bool> absent{false};

    Microsoft::WRL::ComPtr<IMoniker> moniker;
    // Which device this is; written on the init thread only.
    DeviceIdentityText identity;
    const int32_t index;
    Microsoft::WRL::ComPtr<IBaseFilter> captureFilter;
    Microsoft::WRL::ComPtr<IGraphBuilder> graph;
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> captureBuilder;
    DWORD rotRegister = 0;
    Microsoft::WRL::ComPtr<IMediaControl> mediaControl;
    Microsoft::WRL::ComPtr<IMediaEventEx> mediaEvent;
    Microsoft::WRL::ComPtr<IBaseFilter> nullRenderer;
    Microsoft::WRL::ComPtr<IBaseFilter> grabberFilter;
    Microsoft::WRL::ComPtr<ISampleGrabber> grabber;
    Microsoft::WRL::ComPtr<IPin> outputPin;
    // While the stream's format is VIDEOINFOHEADER2, which the grabber never connects with, this
    // sink ends the chain instead of the grabber and the null renderer, which leave the graph.
    Microsoft::WRL::ComPtr<IBaseFilter> frameSink;
    // The device's drop counter, where it keeps one; read by the event thread.
    Microsoft::WRL::ComPtr<IAMDroppedFrames> droppedFrames;
    HANDLE eventThread = nullptr;
    std::atomic<bool> running{false};
    // Set by close so the event thread ends at once instead of after its current 1000 ms wait.
    HANDLE wakeEventThread = nullptr;
    std::atomic<FrameArrivedCallback> frameCallback{nullptr};
    // Set when open() built the whole graph; a partly built one is never run.
    bool built = false;
    // FENWYR_STATE_CLOSED to FENWYR_STATE_FAILED; absence is kept apart in `present`.
    std::atomic<int32_t> state{FENWYR_STATE_CLOSED};
    // What the stream last failed with since the open (for hosts that poll the state).
    std::atomic<int32_t> streamError{S_OK};
    // False once a re-scan no longer finds the device.
    std::atomic<bool> present{true};

private:
    // Runs the graph, with a new frame sequence or going on with the last one.
    HRESULT run(bool newSequence);
    bool build();
    // Prints the failed step's line (when printFailures_) and keeps its result; true: stop here.
    bool failed(HRESULT hr, const char* message);
    bool startEventThread();
    // close: everything goes; reopen: the moniker stays; recover: the moniker, the waiting
    // grabFrame calls and the state stay.
    enum class Teardown { close, reopen, recover };
    // The fixed teardown order.
    void tearDown(Teardown how);
    static DWORD WINAPI eventLoop(void* device);
    // The connections from the capture pin to the end of the chain, upstream first.
    PinChain captureChain();
    // How frames reach the handler now.
    media_type::FrameLayout connectedLayout();
    // Whether the capture pin's format (before the first connection) is VIDEOINFOHEADER2.
    bool streamsVideoInfo2();
    // Puts the frame sink (true) or the grabber and the null renderer (false) in the graph as the
    // end of the chain; only while the chain is taken apart.
    HRESULT useFrameSink(bool sink);
    // The chain without its end (the grabber and null renderer, or the sink), and the output pin
    // that feeds the end: split while that end is still in place.
    struct ChainToEnd {
        PinChain upstream;
        Microsoft::WRL::ComPtr<IPin> endOutput;
    };
    ChainToEnd splitAtEnd(const PinChain& chain);
    // The split chain's links, ending in whichever end is in the graph now.
    PinChain linksToEnd(const ChainToEnd& split);
    // Sets `format` (none: keeps the pin's) and connects the split chain, ending in the frame sink
    // (`sink`) or the grabber; a failure leaves the chain taken apart.
    HRESULT connectFormat(IAMStreamConfig* config, const ChainToEnd& split, bool sink, AM_MEDIA_TYPE* format);
    // Stops a streaming graph for a format change (wasRunning says whether it streamed); on
    // failure it goes on streaming and the device's error comes back.
    HRESULT stopForChange(bool& wasRunning);
    // Runs again after a change; a graph that will not run is left stopped.
    void resumeAfterChange();
    // Both handlers (stream and stills) at once: host code runs on neither once closed.
    void closeDeliveries();
    void openDeliveries();
    void setMailboxesRunning(bool running);
    // Runs the graph and checks that the capture filter runs; on failure the graph is stopped again.
    HRESULT runGraph();
    // STOPPED or RUNNING becomes `settled`; LOST and FAILED stay.
    void settleState(int32_t settled);
    // One event of the graph: the device's state and the host's device event callback.
    void onGraphEvent(long code, LONG_PTR first, LONG_PTR second);

    bool busy_ = false;
    bool printFailures_ = true;
    HRESULT buildFailure_ = S_OK;
    // Made with the record and reused by every open.
    SampleHandler sampleHandler_{frameCallback};
    // Held while the grabber holds sampleHandler_, so unloading the library cannot pull the
    // handler's code from under a platform thread.
    ModulePin modulePin_;
    StillBranch stills_;
    // The still branch's renderer, which never sees the stream end: its EC_COMPLETE is not the
    // stream's. Read by the event thread.
    std::atomic<LONG_PTR> stillRenderer_{0};
};

// The first output pin of a filter (with connectedOnly, the first one connected) other than
// `except`, or null.
Microsoft::WRL::ComPtr<IPin> findOutputPin(IBaseFilter* filter, bool connectedOnly = false, IPin* except = nullptr);
// The first input pin of a filter, or null.
Microsoft::WRL::ComPtr<IPin> findInputPin(IBaseFilter* filter);
