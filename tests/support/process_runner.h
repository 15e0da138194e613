#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
    DWORD exitCode = 0;
    std::string output;  // standard output and standard error, as written
};

// Runs a program of this build (found beside the test program) with arguments, waits for it and
// returns what it printed. `environment` adds or replaces variables for that run only. A program
// still running after `timeoutMs` is ended, with exit code 99.
ProcessResult runProgram(const std::wstring& program, const std::wstring& arguments,
                         const std::vector<std::pair<std::wstring, std::wstring>>& environment = {},
                         DWORD timeoutMs = 60000);

// A fresh, empty folder under the temporary folder, removed with its files when destroyed.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::wstring& path() const { return path_; }
    std::vector<std::wstring> files() const;  // names of the files in it, sorted

private:
    std::wstring path_;
};
