using System;
using System.Buffers;
using System.Threading;
using CameraLibraries.Interop;

namespace CameraLibraries;

/// <summary>One frame from a video device, in memory rented from <see cref="ArrayPool{T}.Shared"/>:
/// <see cref="Dispose"/> returns it, after which <see cref="Data"/> is empty.</summary>
public sealed class Frame : IDisposable
{
    private byte[]? _buffer;
    private readonly int _length;

    internal Frame(byte[] buffer, in FrameInfo info)
    {
        _buffer = buffer;
        _length = info.Length;
        Width = info.Width;
        Height = info.Height;
        Stride = info.Stride;
        BottomUp = info.BottomUp != 0;
        PixelFormat = Enum.IsDefined(typeof(PixelFormat), info.PixelFormat) ? (PixelFormat)info.PixelFormat : PixelFormat.Other;
        FourCC = CameraLibraries.FourCC.Text(info.FourCC);
        SampleTime = info.SampleTime;
        ArrivalTime = info.ArrivalTime;
        Sequence = info.Sequence;
        Dropped = info.Dropped;
    }

    /// <summary>The frame's bytes; empty once disposed.</summary>
    public Memory<byte> Data => _buffer is { } b ? b.AsMemory(0, _length) : Memory<byte>.Empty;

    /// <summary>The frame's bytes; empty once disposed.</summary>
    public Span<byte> Span => Data.Span;

    /// <summary>Bytes in the frame.</summary>
    public int Length => _buffer is null ? 0 : _length;

    /// <summary>Pixels.</summary>
    public int Width { get; }

    /// <summary>Pixels, always positive.</summary>
    public int Height { get; }

    /// <summary>Bytes per stored row of the first plane; 0 for compressed data.</summary>
    public int Stride { get; }

    /// <summary>True when the first stored row is the bottom of the picture.</summary>
    public bool BottomUp { get; }

    /// <summary>How the pixels are stored.</summary>
    public PixelFormat PixelFormat { get; }

    /// <summary>The subtype's FOURCC ("YUY2", "MJPG", ...); "" for RGB and pictures.</summary>
    public string FourCC { get; }

    /// <summary>The sample's start in stream time, 100 ns units; 0 when it carries none.</summary>
    public long SampleTime { get; }

    /// <summary>When fenwyr received it: QueryPerformanceCounter in 100 ns units.</summary>
    public long ArrivalTime { get; }

    /// <summary>0 for the first frame after each start, then +1 per frame fenwyr received: a gap is
    /// frames this host missed.</summary>
    public ulong Sequence { get; }

    /// <summary>Frames the device reports dropped since its graph ran; -1 when it does not report them.</summary>
    public long Dropped { get; }

    /// <summary>Returns the memory to the pool. Disposing again does nothing.</summary>
    public void Dispose()
    {
        if (Interlocked.Exchange(ref _buffer, null) is { } b) ArrayPool<byte>.Shared.Return(b);
    }
}
