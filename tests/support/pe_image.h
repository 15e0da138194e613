#pragma once
#include <string>
#include <vector>

// What a 64-bit PE file (DLL or EXE) exports and imports, read from the file itself.
struct PeImport {
    std::string dll;
    std::vector<std::string> names;  // functions imported by name
    std::vector<unsigned> ordinals;  // functions imported by ordinal
};

struct PeImage {
    std::vector<std::string> exports;  // export names, as stored (sorted)
    std::vector<PeImport> imports;
};

// Throws std::runtime_error when the file cannot be read or is not a PE32+ image.
PeImage readPeImage(const std::wstring& path);

// Full path of a file beside the running program.
std::wstring besideProgram(const std::wstring& fileName);
