using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace CameraLibraries;

/// <summary>A call of fenwyr or tarvik failed. <see cref="System.Exception.HResult"/> is the
/// library's result (E_FAIL where the library gives none) and <see cref="Code"/> its name.</summary>
public class CameraException : ExternalException
{
    /// <summary>HRESULTs the libraries return.</summary>
    public static class HResults
    {
        /// <summary>E_NOTIMPL.</summary>
        public const int NotImplemented = unchecked((int)0x80004001);
        /// <summary>E_POINTER: the device is not open.</summary>
        public const int Pointer = unchecked((int)0x80004003);
        /// <summary>E_FAIL.</summary>
        public const int Fail = unchecked((int)0x80004005);
        /// <summary>E_UNEXPECTED.</summary>
        public const int Unexpected = unchecked((int)0x8000FFFF);
        /// <summary>E_OUTOFMEMORY.</summary>
        public const int OutOfMemory = unchecked((int)0x8007000E);
        /// <summary>E_INVALIDARG: a value the library or the camera refused.</summary>
        public const int InvalidArgument = unchecked((int)0x80070057);
        /// <summary>HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).</summary>
        public const int InsufficientBuffer = unchecked((int)0x8007007A);
        /// <summary>E_PROP_ID_UNSUPPORTED: the device lacks the control.</summary>
        public const int PropertyUnsupported = unchecked((int)0x80070490);
        /// <summary>HRESULT_FROM_WIN32(ERROR_TIMEOUT): no frame came in time.</summary>
        public const int Timeout = unchecked((int)0x800705B4);
        /// <summary>HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED): the device is unplugged.</summary>
        public const int DeviceNotConnected = unchecked((int)0x8007048F);
        /// <summary>VFW_E_NOT_RUNNING: the device is stopped.</summary>
        public const int NotRunning = unchecked((int)0x80040226);
        /// <summary>VFW_E_WRONG_STATE.</summary>
        public const int WrongState = unchecked((int)0x80040227);
    }

    private static readonly Dictionary<int, string> Names = new()
    {
        [HResults.NotImplemented] = "E_NOTIMPL",
        [unchecked((int)0x80004002)] = "E_NOINTERFACE",
        [HResults.Pointer] = "E_POINTER",
        [HResults.Fail] = "E_FAIL",
        [HResults.Unexpected] = "E_UNEXPECTED",
        [HResults.OutOfMemory] = "E_OUTOFMEMORY",
        [HResults.InvalidArgument] = "E_INVALIDARG",
        [HResults.InsufficientBuffer] = "ERROR_INSUFFICIENT_BUFFER",
        [HResults.PropertyUnsupported] = "E_PROP_ID_UNSUPPORTED",
        [HResults.Timeout] = "ERROR_TIMEOUT",
        [HResults.DeviceNotConnected] = "ERROR_DEVICE_NOT_CONNECTED",
        [unchecked((int)0x80040200)] = "VFW_E_INVALIDMEDIATYPE",
        [unchecked((int)0x80040209)] = "VFW_E_NOT_CONNECTED",
        [unchecked((int)0x80040218)] = "VFW_E_CANNOT_RENDER",
        [unchecked((int)0x80040224)] = "VFW_E_NOT_STOPPED",
        [HResults.NotRunning] = "VFW_E_NOT_RUNNING",
        [HResults.WrongState] = "VFW_E_WRONG_STATE",
    };

    /// <summary>The HRESULT's name, such as "E_INVALIDARG", or "HRESULT 0x8xxxxxxx".</summary>
    public static string NameOf(int hresult) =>
        Names.TryGetValue(hresult, out var name) ? name : $"HRESULT 0x{unchecked((uint)hresult):X8}";

    /// <summary>A failure of <paramref name="what"/> with the library's result.</summary>
    public CameraException(string what, int hresult) : base($"{what}: {NameOf(hresult)}", hresult) { }

    /// <summary>A failure the library reports without an HRESULT (E_FAIL).</summary>
    public CameraException(string what) : base(what, HResults.Fail) { }

    /// <summary>The name of <see cref="System.Exception.HResult"/>.</summary>
    public string Code => NameOf(HResult);

    internal static int Check(int hresult, string what) =>
        hresult < 0 ? throw new CameraException(what, hresult) : hresult;
}
