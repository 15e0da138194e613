#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <windows.h>
#include <psapi.h>

#include <cstring>
#include <vector>

namespace {

// Under Wine the C runtime's fputc writes a buffered stream out whenever it puts a '\n';
// Windows' does not. A library line ended with a single '\n' character and no flush would
// reach a Windows host only later, yet Wine shows it at once. While a capture is in progress
// the program's own modules (those beside the test program, the libraries among them) put
// characters into standard output's buffer as Windows' runtime does.
using PutcFunction = int(__cdecl*)(int, FILE*);
PutcFunction runtimeFputc = nullptr;
constexpr int kUserBuffer = 0x0100;  // the runtime's _USERBUF: a buffer set with setvbuf

int __cdecl putcAsOnWindows(int c, FILE* stream) {
    if (stream == stdout) {
        _lock_file(stream);
        const bool stored = stream->_cnt > 0 && (stream->_flag & (_IOMYBUF | kUserBuffer));
        if (stored) {
            *stream->_ptr++ = static_cast<char>(c);
            --stream->_cnt;
        }
        _unlock_file(stream);
        if (stored)
            return c & 0xff;
    }
    return runtimeFputc(c, stream);
}

struct PatchedImport {
    HMODULE module;
    void** slot;
    void* original;
};
std::vector<PatchedImport> patchedImports;

void writeSlot(void** slot, void* value) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
}

std::wstring folderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// Points every import of the runtime's putc and fputc in the modules beside the test program
// at putcAsOnWindows.
void putCharactersAsOnWindows() {
    runtimeFputc = reinterpret_cast<PutcFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "fputc")));
    if (!runtimeFputc)
        return;
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring programFolder = folderOf(path);
    HMODULE modules[256];
    DWORD bytes = 0;
    if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes))
        return;
    for (DWORD m = 0; m < bytes / sizeof(HMODULE) && m < 256; ++m) {
        if (!GetModuleFileNameW(modules[m], path, MAX_PATH) || _wcsicmp(folderOf(path).c_str(), programFolder.c_str()))
            continue;
        auto* base = reinterpret_cast<BYTE*>(modules[m]);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (!directory.VirtualAddress)
            continue;
        for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
             import->Name; ++import) {
            if (_stricmp(reinterpret_cast<const char*>(base + import->Name), "msvcrt.dll") || !import->OriginalFirstThunk)
                continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
            auto* slots = reinterpret_cast<void**>(base + import->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                const char* name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
                if (std::strcmp(name, "putc") && std::strcmp(name, "fputc"))
                    continue;
                patchedImports.push_back({modules[m], slots, *slots});
                writeSlot(slots, reinterpret_cast<void*>(&putcAsOnWindows));
            }
        }
    }
}

void putCharactersAsBefore() {
    for (const PatchedImport& patched : patchedImports) {
        // A module unloaded meanwhile (the last CoUninitialize unloads in-process servers) is gone,
        // or back with fresh imports: left alone.
        HMODULE owner = nullptr;
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCWSTR>(patched.slot), &owner) &&
            owner == patched.module && *patched.slot == reinterpret_cast<void*>(&putcAsOnWindows))
            writeSlot(patched.slot, patched.original);
    }
    patchedImports.clear();
}

// The descriptor standard output had before the innermost capture in progress; -1 when none.
int consoleFd = -1;

// GoogleTest prints each failure on standard output the moment it happens. During a capture
// that report goes to the real standard output, not into the text the test is reading (its
// flush sends what else was in the buffer there too: the test has failed already).
class ReportsOutsideCapture : public testing::TestEventListener {
public:
    explicit ReportsOutsideCapture(testing::TestEventListener* printer) : printer_(printer) {}

    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (consoleFd < 0) {
            printer_->OnTestPartResult(result);
            return;
        }
        const int captureFd = _dup(1);
        _dup2(consoleFd, 1);
        printer_->OnTestPartResult(result);
        _dup2(captureFd, 1);
        _close(captureFd);
    }

    void OnTestProgramStart(const testing::UnitTest& u) override { printer_->OnTestProgramStart(u); }
    void OnTestIterationStart(const testing::UnitTest& u, int i) override { printer_->OnTestIterationStart(u, i); }
    void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override { printer_->OnEnvironmentsSetUpStart(u); }
    void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override { printer_->OnEnvironmentsSetUpEnd(u); }
    void OnTestSuiteStart(const testing::TestSuite& s) override { printer_->OnTestSuiteStart(s); }
    void OnTestCaseStart(const testing::TestCase& c) override { printer_->OnTestCaseStart(c); }
    void OnTestStart(const testing::TestInfo& t) override { printer_->OnTestStart(t); }
    void OnTestDisabled(const testing::TestInfo& t) override { printer_->OnTestDisabled(t); }
    void OnTestEnd(const testing::TestInfo& t) override { printer_->OnTestEnd(t); }
    void OnTestSuiteEnd(const testing::TestSuite& s) override { printer_->OnTestSuiteEnd(s); }
    void OnTestCaseEnd(const testing::TestCase& c) override { printer_->OnTestCaseEnd(c); }
    void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override { printer_->OnEnvironmentsTearDownStart(u); }
    void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override { printer_->OnEnvironmentsTearDownEnd(u); }
    void OnTestIterationEnd(const testing::UnitTest& u, int i) override { printer_->OnTestIterationEnd(u, i); }
    void OnTestProgramEnd(const testing::UnitTest& u) override { printer_->OnTestProgramEnd(u); }

private:
    std::unique_ptr<testing::TestEventListener> printer_;
};

void keepReportsOutsideCaptures() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    if (testing::TestEventListener* printer = listeners.default_result_printer())
        listeners.Append(new ReportsOutsideCapture(listeners.Release(printer)));
}

}  // namespace

StdoutCapture::StdoutCapture() {
    keepReportsOutsideCaptures();
    // What the test program itself left in the buffer goes out before the capture begins.
    std::cout.flush();
    std::fflush(stdout);
    wchar_t dir[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, dir) || !GetTempFileNameW(dir, L"out", 0, path))
        throw std::runtime_error("no temporary file for standard output");
    fileFd_ = _wopen(path, _O_RDWR | _O_BINARY | _O_TRUNC | _O_TEMPORARY, _S_IREAD | _S_IWRITE);
    if (fileFd_ < 0)
        throw std::runtime_error("cannot open temporary file for standard output");
    savedFd_ = _dup(1);
    unbufferedBefore_ = _isatty(1) != 0;
    _dup2(fileFd_, 1);
    _setmode(1, _O_BINARY);
    outerConsoleFd_ = consoleFd;
    consoleFd = savedFd_;
    if (outerConsoleFd_ < 0)
        putCharactersAsOnWindows();
    // Buffered as for a host whose output is a file or pipe, even when the test runs on a
    // console (which the C runtime does not buffer): a line is seen once its writer flushed it.
    std::setvbuf(stdout, nullptr, _IOFBF, 4096);
}

StdoutCapture::~StdoutCapture() {
    // Not flushed into the file: a line the library left in the buffer comes out later, where
    // a host would see it, after the capture.
    consoleFd = outerConsoleFd_;
    if (outerConsoleFd_ < 0)
        putCharactersAsBefore();
    if (savedFd_ >= 0) {
        _dup2(savedFd_, 1);
        _close(savedFd_);
    }
    if (unbufferedBefore_)
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (fileFd_ >= 0)
        _close(fileFd_);
}

std::string StdoutCapture::text() {
    // Only what reached the descriptor, as a host reading its output sees it: flushing the C
    // stream here would hide a line the library wrote without flushing it.
    long end = _lseek(fileFd_, 0, SEEK_END);
    std::string out(end > 0 ? static_cast<size_t>(end) : 0, '\0');
    _lseek(fileFd_, 0, SEEK_SET);
    if (!out.empty())
        out.resize(static_cast<size_t>(_read(fileFd_, &out[0], static_cast<unsigned>(out.size()))));
    _lseek(fileFd_, 0, SEEK_END);
    return out;
}
