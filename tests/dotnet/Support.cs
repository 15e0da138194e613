using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;
using System.Threading.Tasks;
using Microsoft.Win32;

// Virtual capture devices: vcam.dll's classes and its device keys in the video-input category.
internal sealed class VirtualDevices : IDisposable
{
    private const string Instances = @"CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance";
    private const string VcamClass = "{EAA15466-3846-4E8B-A86D-3C5DB1FAFD23}";
    private readonly nint _vcam;
    private readonly List<string> _keys = new();

    public VirtualDevices(string vcamPath)
    {
        _vcam = NativeLibrary.Load(vcamPath);
        Register("DllRegisterServer");
        // The demo devices its registration adds, and keys a cut-short run left.
        foreach (var key in new[] { "VirtualCameraA", "VirtualCameraB" }) Remove(key);
    }

    private unsafe void Register(string export)
    {
        var call = (delegate* unmanaged[Stdcall]<int>)NativeLibrary.GetExport(_vcam, export);
        int hr = call();
        if (hr < 0) throw new InvalidOperationException($"vcam {export}: 0x{hr:X8}");
    }

    public void Add(string key, string name, string formats, int tag, string? devicePath = null,
        string? controls = null, Dictionary<string, int>? dwords = null)
    {
        Remove(key);
        using var k = Registry.ClassesRoot.CreateSubKey($@"{Instances}\{key}");
        k.SetValue("FriendlyName", name);
        k.SetValue("CLSID", VcamClass);
        k.SetValue("Formats", formats);
        k.SetValue("Tag", tag, RegistryValueKind.DWord);
        if (devicePath != null) k.SetValue("DevicePath", devicePath);
        if (controls != null) k.SetValue("Controls", controls);
        foreach (var (value, number) in dwords ?? new()) k.SetValue(value, number, RegistryValueKind.DWord);
        if (!_keys.Contains(key)) _keys.Add(key);
    }

    public void SetDword(string key, string value, int number)
    {
        using var k = Registry.ClassesRoot.OpenSubKey($@"{Instances}\{key}", writable: true)
            ?? throw new InvalidOperationException($"no device key {key}");
        k.SetValue(value, number, RegistryValueKind.DWord);
    }

    // Takes a device out of the category, as unplugging does to a real one.
    public void Remove(string key) => Registry.ClassesRoot.DeleteSubKeyTree($@"{Instances}\{key}", throwOnMissingSubKey: false);

    public void Dispose()
    {
        foreach (var key in _keys) Remove(key);
        Register("DllUnregisterServer");
    }
}

internal static class Check
{
    public static void True(bool condition, string what)
    {
        if (!condition) throw new Exception($"expected: {what}");
    }

    public static void Equal<T>(T expected, T actual, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(expected, actual))
            throw new Exception($"{what}: expected {expected}, got {actual}");
    }

    public static TException Throws<TException>(Action call, string what) where TException : Exception
    {
        try
        {
            call();
        }
        catch (TException e)
        {
            return e;
        }
        catch (Exception e)
        {
            throw new Exception($"{what}: expected {typeof(TException).Name}, got {e.GetType().Name}: {e.Message}");
        }
        throw new Exception($"{what}: expected {typeof(TException).Name}, nothing thrown");
    }

    public static async Task<TException> ThrowsAsync<TException>(Func<Task> call, string what) where TException : Exception
    {
        try
        {
            await call();
        }
        catch (TException e)
        {
            return e;
        }
        catch (Exception e)
        {
            throw new Exception($"{what}: expected {typeof(TException).Name}, got {e.GetType().Name}: {e.Message}");
        }
        throw new Exception($"{what}: expected {typeof(TException).Name}, nothing thrown");
    }

    public static void HResult(int expected, Action call, string what)
    {
        var e = Throws<CameraLibraries.CameraException>(call, what);
        Equal(CameraLibraries.CameraException.NameOf(expected), e.Code, what);
        Equal(expected, e.HResult, what);
    }

    // Resolves when the event has been raised, fails after the time.
    public static async Task Within(Task task, int ms, string what)
    {
        if (await Task.WhenAny(task, Task.Delay(ms)) != task) throw new Exception($"{what} took longer than {ms} ms");
        await task;
    }
}
