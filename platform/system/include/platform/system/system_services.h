// What the desktop program asks of its operating system besides windows and the remote
// API: its own path, finding a file by wildcard, reading a file, and loading a library by
// name. One POSIX and one Win32 implementation; the desktop's logic includes only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tova::sys {

// The separator the desktop's paths are written with, and whether `c` separates folders
// there (Windows also takes '/').
char PathSeparator();
bool IsPathSeparator(char c);

// Copies the program's own file path into buffer (at most capacity - 1 characters and a
// NUL) and returns the number of characters copied; 0 when the path cannot be read. A
// result of capacity - 1 or more means the path may have been cut.
size_t ReadOwnExecutablePath(char* buffer, size_t capacity);

// The first regular file in `folder` (empty or ending in a separator; empty is the current
// folder) whose name matches `pattern` ('*' and '?', letter case ignored), in the order the
// folder lists them. Anything else that matches (a folder, a FIFO, a device) is passed over
// without being opened. False when nothing matches or the folder cannot be read.
bool FindFirstMatch(const std::string& folder, const char* pattern, std::string& path);

// A regular file opened for reading. Opening never blocks: anything but a regular file is
// refused.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile() { Close(); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool Open(const char* path);
    void Close();
    bool IsOpen() const { return handle_ != kClosed; }
    // The size when opened; 0 when closed.
    uint64_t Size() const { return size_; }
    // Moves to `offset` bytes from the start.
    bool Seek(uint64_t offset);
    // Up to `want` bytes from the current position: the count read, 0 at the end, -1 on an
    // error.
    int64_t Read(void* buffer, size_t want);

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
    uint64_t size_ = 0;
};

// A shared library loaded by name through the platform's search order, and its functions by
// name; null when the library or the function is not there.
void* LoadLibraryByName(const char* name);
void* LibraryFunction(void* library, const char* name);

// A line for whoever watches the program's debug output (the debugger's output window on
// Windows, standard error elsewhere).
void DebugOutput(const char* line);

}  // namespace tova::sys
