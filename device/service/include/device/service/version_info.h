// The module's version information: key/value pairs of NUL-terminated strings in the ELF
// section ".tova_version", so that host tools read it from the built file (readelf -p).
#pragma once

inline constexpr char kVersionSectionName[] = ".tova_version";
