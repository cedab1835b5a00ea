// The transfer engine: puts the service library, the ROM segments and the flasher into the
// handheld's file system over the link. Every remote file call goes through the serialised
// wrappers (desktop/device/rapi_calls.h); segment progress is posted to the progress page.
//
// Results: 0 success, -1 failure, except CopySegments (1 success, 0 failure) and
// DeleteStartupShortcut (the start-up folder query's result).
#pragma once

#include <cstdint>

#include "platform/system/system_services.h"
#include "platform/ui/message_target.h"
#include "platform/wince/types.h"

inline constexpr uint32_t kCopyBufferBytes = 0x8000;
inline constexpr uint32_t kCopyChunkBytes = 0x4000;
// Nominal pauses on the scaled clock.
inline constexpr uint32_t kPauseAfterChunkMs = 100;
inline constexpr uint32_t kPauseAfterSegmentMs = 250;
inline constexpr uint32_t kPauseAfterMisc3Ms = 500;

inline constexpr char16_t kHandheldServiceLibrary[] = u"\\Windows\\HARLIX.DLL";
inline constexpr char kServiceLibraryFileName[] = "HARLIX.DLL";
inline constexpr char kFlasherFileName[] = "Velkor.exe";
inline constexpr char16_t kFlasherHandheldName[] = u"Velkor.exe";
inline constexpr char16_t kShortcutOutlook[] = u"\\poutlook.lnk";
inline constexpr char16_t kShortcutWelcome[] = u"\\Welcome.lnk";

// Replaces handheldPath with the desktop file's bytes. A file of 0 bytes fails, leaving an
// empty handheld file. Posts no progress and does not look at g_bConnected.
int CopyFileToDevice(const char* desktopPath, LPCWSTR handheldPath);

// Copies byteCount bytes from the package's current position (packageFile: the open
// package) into a new handheld file, posting WM_UPD_FILE_PROGRESS per chunk. Fails if
// the handheld file exists, the link flag drops, or the package ends early; a partial file
// stays on the handheld.
int CopySegmentToDevice(tova::sys::ReadOnlyFile& packageFile, ui::MessageTarget& window, DWORD byteCount,
                        LPCWSTR handheldPath);

// Program folder + "HARLIX.DLL" to \Windows\HARLIX.DLL.
int CopyServiceLibrary();

// Deletes start-up folder + name. Returns the folder query's result; when the query
// fails (0) nothing is deleted.
DWORD DeleteStartupShortcut(LPCWSTR name);

// Program folder + "Velkor.exe" to the start-up folder. Fails (-1) when the start-up
// folder cannot be queried.
int CopyFlasher();

// Cuts the package for g_bAdvancedModel into the 12 segment files, in table order,
// posting WM_UPD_OVERALL_PROGRESS after each. 1 when all 12 were copied, else 0.
int CopySegments(ui::MessageTarget& window);
