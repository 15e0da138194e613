using System.Runtime.Versioning;

// The DLLs are Windows x64 ones.
[assembly: SupportedOSPlatform("windows")]
