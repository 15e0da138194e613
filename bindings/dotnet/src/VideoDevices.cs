using System;
using System.Collections.Generic;
using System.Text;
using CameraLibraries.Interop;

namespace CameraLibraries;

/// <summary>fenwyr's devices. Every call of the library runs on one thread of the package's own,
/// an STA that is the library's init thread; that thread also watches the open devices' states
/// (every 100 ms) and raises their events on the thread pool.</summary>
public static class VideoDevices
{
    private const int PollMs = 100;
    private const int RefreshWhileLostMs = 500;

    private static readonly object Gate = new();
    private static WorkThread? _thread;
    private static bool _initialised;
    // Touched on the fenwyr thread only.
    private static readonly Dictionary<int, VideoDevice> Open = new();
    private static long _lastRefresh;

    internal static WorkThread Thread
    {
        get
        {
            lock (Gate)
            {
                return _thread ??= new WorkThread("fenwyr", sta: true, Poll, PollMs);
            }
        }
    }

    // On the fenwyr thread: the library, initialised on first use.
    internal static void Init()
    {
        if (_initialised) return;
        Fenwyr.Init();
        _initialised = true;
    }

    internal static DeviceState StateOf(int index) => (DeviceState)Fenwyr.GetDeviceState(index);

    internal static unsafe VideoDeviceInfo? Identity(int index)
    {
        DeviceIdentity identity;
        if (Fenwyr.GetDeviceIdentity(index, &identity) < 0) return null;
        return new VideoDeviceInfo(index, Utf8(identity.Name, 256), Utf8(identity.Path, 512), StateOf(index));
    }

    internal static unsafe string Utf8(byte* text, int capacity)
    {
        int length = 0;
        while (length < capacity && text[length] != 0) ++length;
        return Encoding.UTF8.GetString(text, length);
    }

    /// <summary>Every device in the table, present or not, after looking for new ones.</summary>
    public static IReadOnlyList<VideoDeviceInfo> List() => Thread.Invoke(() =>
    {
        Init();
        Fenwyr.RefreshDevices();
        var list = new List<VideoDeviceInfo>();
        for (int index = 0; Identity(index) is { } identity; ++index) list.Add(identity);
        return (IReadOnlyList<VideoDeviceInfo>)list;
    });

    // On the fenwyr thread: the index a path or name gives, looking again for new devices once.
    internal static unsafe int Find(string pathOrName)
    {
        var text = new byte[Encoding.UTF8.GetByteCount(pathOrName) + 1];
        Encoding.UTF8.GetBytes(pathOrName, 0, pathOrName.Length, text, 0);
        fixed (byte* p = text)
        {
            int index = Fenwyr.FindDevice(p);
            if (index < 0)
            {
                Fenwyr.RefreshDevices();
                index = Fenwyr.FindDevice(p);
            }
            return index;
        }
    }

    internal static void Watch(VideoDevice device) => Open[device.Index] = device;

    internal static void Unwatch(VideoDevice device)
    {
        if (Open.TryGetValue(device.Index, out var d) && d == device) Open.Remove(device.Index);
    }

    internal static VideoDevice? Opened(int index) => Open.TryGetValue(index, out var d) ? d : null;

    // The watch: device events from the states, as fenwyr's own event callback would give them,
    // but without a callback into managed code on a thread of the library's.
    private static void Poll()
    {
        if (Open.Count == 0) return;
        bool lost = false;
        foreach (var d in Open.Values) lost |= d.Watch.Lost;
        long now = Environment.TickCount64;
        if (lost && now - _lastRefresh >= RefreshWhileLostMs)
        {
            _lastRefresh = now;
            Fenwyr.RefreshDevices();
        }
        foreach (var d in new List<VideoDevice>(Open.Values)) d.Poll();
    }

    /// <summary>Closes every device, balances the library's initialisation and ends the package's
    /// fenwyr thread; the next call starts both again.</summary>
    public static void Shutdown()
    {
        WorkThread? thread;
        lock (Gate)
        {
            thread = _thread;
            _thread = null;
        }
        if (thread is null) return;
        var devices = thread.Invoke(() => new List<VideoDevice>(Open.Values));
        foreach (var d in devices) d.Dispose(thread);
        thread.Invoke(() =>
        {
            Open.Clear();
            if (_initialised) Fenwyr.Uninit();
            _initialised = false;
        });
        thread.Dispose();
    }
}
