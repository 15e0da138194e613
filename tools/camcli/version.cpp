// camcli --version: its own version and that of each library the loader would give it, read from
// the DLL's version resource, so a mismatched DLL beside the program shows at once.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "utf8.h"

namespace {

void printLibraryVersion(const wchar_t* file) {
    wchar_t path[MAX_PATH] = L"";
    if (!SearchPathW(nullptr, file, nullptr, MAX_PATH, path, nullptr)) {
        std::printf("%-11s not found\n", toUtf8(file).c_str());
        return;
    }
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path, &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (block.empty() || !GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) || size < sizeof *fixed) {
        std::printf("%-11s no version resource (%s)\n", toUtf8(file).c_str(), toUtf8(path).c_str());
        return;
    }
    std::printf("%-11s %u.%u.%u (%s)\n", toUtf8(file).c_str(), unsigned(HIWORD(fixed->dwFileVersionMS)),
                unsigned(LOWORD(fixed->dwFileVersionMS)), unsigned(HIWORD(fixed->dwFileVersionLS)), toUtf8(path).c_str());
}

}  // namespace

int printVersions() {
    std::printf("camcli      %s\n", CAMERALIBS_VERSION);
    printLibraryVersion(L"tarvik.dll");
    printLibraryVersion(L"fenwyr.dll");
    return 0;
}
