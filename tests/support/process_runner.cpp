#include "process_runner.h"

#include <algorithm>
#include <stdexcept>

#include "pe_image.h"

namespace {

// Sets variables for the child and restores them afterwards.
class EnvironmentOverride {
public:
    explicit EnvironmentOverride(const std::vector<std::pair<std::wstring, std::wstring>>& variables) {
        for (const auto& [name, value] : variables) {
            wchar_t old[4096];
            const DWORD n = GetEnvironmentVariableW(name.c_str(), old, 4096);
            saved_.push_back({name, n ? std::wstring(old, n) : std::wstring(), n > 0});
            SetEnvironmentVariableW(name.c_str(), value.c_str());
        }
    }
    ~EnvironmentOverride() {
        for (const auto& s : saved_)
            SetEnvironmentVariableW(s.name.c_str(), s.existed ? s.value.c_str() : nullptr);
    }

private:
    struct Saved {
        std::wstring name, value;
        bool existed;
    };
    std::vector<Saved> saved_;
};

} // namespace

ProcessResult runProgram(const std::wstring& program, const std::wstring& arguments,
                         const std::vector<std::pair<std::wstring, std::wstring>>& environment, DWORD timeoutMs) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + besideProgram(program) + L"\" " + arguments;
    BOOL started;
    {
        EnvironmentOverride override(environment);
        started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                 &process);
    }
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        throw std::runtime_error("CreateProcess failed");
    }

    // Read until the program has ended, not until the pipe's last writer is gone: a process it
    // started may keep the pipe for ever (Wine's desktop process takes its starter's standard
    // error and lives as long as any program uses the desktop).
    ProcessResult result;
    char buffer[4096];
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool ended = false;
    for (;;) {
        DWORD available = 0, got = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) {
            // Every writer has closed it: ReadFile hands out what is left, then fails.
            while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
                result.output.append(buffer, got);
            break;
        }
        if (available) {
            if (!ReadFile(readEnd, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || !got)
                break;
            result.output.append(buffer, got);
            continue;
        }
        if (ended)
            break;  // what it wrote before it ended has all been read
        if (WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0) {
            ended = true;
        } else if (GetTickCount64() >= deadline) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, INFINITE);
            ended = true;
        }
    }
    CloseHandle(readEnd);
    const ULONGLONG now = GetTickCount64();
    if (WaitForSingleObject(process.hProcess, now < deadline ? static_cast<DWORD>(deadline - now) : 0) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'), result.output.end());
    return result;
}

TempFolder::TempFolder() {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + L"camtest" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount64());
    if (!CreateDirectoryW(path_.c_str(), nullptr))
        throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
    for (const auto& name : files())
        DeleteFileW((path_ + L"\\" + name).c_str());
    RemoveDirectoryW(path_.c_str());
}

std::vector<std::wstring> TempFolder::files() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}
