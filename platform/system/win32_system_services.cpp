#include "platform/system/system_services.h"

#include <windows.h>

#include <string>

namespace tova::sys {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The search also answers to a name's short 8.3 form, so "*.img" finds "x.imgold" too; each
// answer is checked against the pattern itself.
bool Matches(const char* pattern, const char* name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') return Matches(pattern + 1, name) || (*name && Matches(pattern, name + 1));
    if (*name == '\0') return false;
    if (*pattern != '?' && Lower(*pattern) != Lower(*name)) return false;
    return Matches(pattern + 1, name + 1);
}

}  // namespace

char PathSeparator() { return '\\'; }
bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

size_t ReadOwnExecutablePath(char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    DWORD size = capacity > MAXDWORD ? MAXDWORD : DWORD(capacity);
    DWORD n = ::GetModuleFileNameA(nullptr, buffer, size);
    // A cut path comes back as the whole buffer, which the caller reads as "may be cut".
    if (n == 0) return 0;
    if (n >= size) {
        buffer[size - 1] = '\0';
        return size - 1;
    }
    return n;
}

bool FindFirstMatch(const std::string& folder, const char* pattern, std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE search = ::FindFirstFileA((folder + pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do {
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) continue;
        if (!Matches(pattern, entry.cFileName)) continue;
        path = folder + entry.cFileName;
        found = true;
    } while (!found && ::FindNextFileA(search, &entry));
    ::FindClose(search);
    return found;
}

bool ReadOnlyFile::Open(const char* path) {
    Close();
    HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
        ::CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    size_ = uint64_t(size.QuadPart);
    return true;
}

void ReadOnlyFile::Close() {
    if (handle_ != kClosed) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kClosed;
    size_ = 0;
}

bool ReadOnlyFile::Seek(uint64_t offset) {
    if (handle_ == kClosed) return false;
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(offset);
    return ::SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN) != 0;
}

int64_t ReadOnlyFile::Read(void* buffer, size_t want) {
    if (handle_ == kClosed) return -1;
    DWORD got = 0;
    DWORD ask = want > 0x40000000 ? 0x40000000 : DWORD(want);
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, ask, &got, nullptr)) return -1;
    return got;
}

void* LoadLibraryByName(const char* name) { return reinterpret_cast<void*>(::LoadLibraryA(name)); }

void* LibraryFunction(void* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void DebugOutput(const char* line) {
    ::OutputDebugStringA((std::string(line) + "\n").c_str());
}

}  // namespace tova::sys
