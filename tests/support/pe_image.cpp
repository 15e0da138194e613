#include "pe_image.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

class Reader {
public:
    explicit Reader(std::vector<char> bytes) : bytes_(std::move(bytes)) {}

    template <typename T>
    T at(size_t offset) const {
        if (offset + sizeof(T) > bytes_.size() || offset + sizeof(T) < offset)
            throw std::runtime_error("PE read past the end of the file");
        T value;
        std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return value;
    }

    std::string stringAt(size_t offset) const {
        std::string s;
        for (;; ++offset) {
            char c = at<char>(offset);
            if (!c)
                return s;
            s.push_back(c);
        }
    }

    void setSections(size_t first, unsigned count) {
        for (unsigned i = 0; i < count; ++i)
            sections_.push_back(at<IMAGE_SECTION_HEADER>(first + i * sizeof(IMAGE_SECTION_HEADER)));
    }

    size_t fileOffset(DWORD rva) const {
        for (const auto& s : sections_) {
            DWORD size = s.Misc.VirtualSize ? s.Misc.VirtualSize : s.SizeOfRawData;
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + size)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        throw std::runtime_error("PE address outside every section");
    }

private:
    std::vector<char> bytes_;
    std::vector<IMAGE_SECTION_HEADER> sections_;
};

} // namespace

PeImage readPeImage(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open PE file");
    Reader pe(std::vector<char>(std::istreambuf_iterator<char>(file), {}));

    const auto dos = pe.at<IMAGE_DOS_HEADER>(0);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE)
        throw std::runtime_error("no MZ header");
    const auto nt = pe.at<IMAGE_NT_HEADERS64>(static_cast<size_t>(dos.e_lfanew));
    if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        throw std::runtime_error("not a PE32+ image");
    pe.setSections(static_cast<size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                       nt.FileHeader.SizeOfOptionalHeader,
                   nt.FileHeader.NumberOfSections);

    PeImage image;
    const auto& exportDir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (exportDir.VirtualAddress) {
        const auto exports = pe.at<IMAGE_EXPORT_DIRECTORY>(pe.fileOffset(exportDir.VirtualAddress));
        const size_t names = pe.fileOffset(exports.AddressOfNames);
        for (DWORD i = 0; i < exports.NumberOfNames; ++i)
            image.exports.push_back(pe.stringAt(pe.fileOffset(pe.at<DWORD>(names + i * sizeof(DWORD)))));
    }

    const auto& importDir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (importDir.VirtualAddress) {
        size_t descriptor = pe.fileOffset(importDir.VirtualAddress);
        for (;; descriptor += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto entry = pe.at<IMAGE_IMPORT_DESCRIPTOR>(descriptor);
            if (!entry.Name)
                break;
            PeImport import;
            import.dll = pe.stringAt(pe.fileOffset(entry.Name));
            DWORD thunks = entry.OriginalFirstThunk ? entry.OriginalFirstThunk : entry.FirstThunk;
            for (size_t t = pe.fileOffset(thunks);; t += sizeof(ULONGLONG)) {
                const auto thunk = pe.at<ULONGLONG>(t);
                if (!thunk)
                    break;
                if (IMAGE_SNAP_BY_ORDINAL64(thunk))
                    import.ordinals.push_back(static_cast<unsigned>(IMAGE_ORDINAL64(thunk)));
                else
                    import.names.push_back(
                        pe.stringAt(pe.fileOffset(static_cast<DWORD>(thunk)) + offsetof(IMAGE_IMPORT_BY_NAME, Name)));
            }
            image.imports.push_back(std::move(import));
        }
    }
    return image;
}

std::wstring besideProgram(const std::wstring& fileName) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + fileName;
}
