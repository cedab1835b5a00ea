// The program folder: the folder of the running executable, where the ROM package and the
// companion files HARLIX.DLL and Velkor.exe lie.
#pragma once

#include <cstddef>
#include <string>

// Copies the program's own file path into buffer (at most capacity - 1 characters and a
// NUL) and returns the number of characters copied; 0 when the path cannot be read. A
// result of capacity - 1 or more means the path may have been cut.
using ProgramPathReader = size_t (*)(char* buffer, size_t capacity);

// Replaces the path reader (tests feed paths the real executable cannot have); nullptr
// restores the platform's own query (tova::sys::ReadOwnExecutablePath).
void SetProgramPathReader(ProgramPathReader reader);

// The program's folder ending in its path separator, read afresh. The path is read into a buffer of 1024
// characters, grown by 1024 while it may have been cut. False when the path cannot be read
// or no buffer large enough can be had.
bool ProgramFolder(std::string& folder);
