// How the desktop names the device service library and its exports when it invokes them.
#pragma once

inline constexpr char16_t kServiceLibraryName[] = u"HARLIX";
inline constexpr char16_t kServiceLibraryFile[] = u"HARLIX.DLL";
inline constexpr char16_t kInvokeInput[] = u"ALL";
inline constexpr unsigned kInvokeInputBytes = sizeof(kInvokeInput);  // 8: "ALL" and its NUL

struct ServiceExportName {
    const char* symbol;     // as the module exports it
    const char16_t* wide;   // as the desktop names it in CeRapiInvoke
};

inline constexpr ServiceExportName kExportFnTOVAInfo{"FnTOVAInfo", u"FnTOVAInfo"};
inline constexpr ServiceExportName kExportColdReset{"ColdReset", u"ColdReset"};
inline constexpr ServiceExportName kExportWarmReset{"WarmReset", u"WarmReset"};
inline constexpr ServiceExportName kExportIsCheckSumOk{"IsCheckSumOk", u"IsCheckSumOk"};

static_assert(kInvokeInputBytes == 8);
