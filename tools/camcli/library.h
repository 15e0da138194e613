#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>

// A DLL loaded by file name, its exports reached by name: as any host in any language would.
class Library {
public:
    explicit Library(const wchar_t* fileName) : module_(LoadLibraryW(fileName)) {
        if (!module_)
            throw std::runtime_error("cannot load " + narrow(fileName) + " (error " + std::to_string(GetLastError()) + ")");
    }
    ~Library() { FreeLibrary(module_); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    template <typename Function>
    void bind(const char* name, Function*& function) const {
        function = reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
        if (!function)
            throw std::runtime_error(std::string("missing export ") + name);
    }

private:
    static std::string narrow(const wchar_t* text) {
        std::string s;
        for (; *text; ++text)
            s.push_back(static_cast<char>(*text));
        return s;
    }
    HMODULE module_;
};
