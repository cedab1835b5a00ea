// The version information of the module, readable with `readelf -p .tova_version HARLIX.DLL`:
// alternating key and value strings.
#include "device/service/version_info.h"

__attribute__((section(".tova_version"), used)) static const char kVersionInfo[] =
    "FileVersion\0" "1, 0, 7, 5\0"
    "ProductVersion\0" "1, 0, 7, 5\0"
    "Comments\0" "Support A04 image\0"
    "SpecialBuild\0" "05260300EN\0"
    "FileDescription\0" "Harlix\0"
    "InternalName\0" "Harlix\0"
    "OriginalFilename\0" "Harlix.dll";
