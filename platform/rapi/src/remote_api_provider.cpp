#include "remote_api_provider.h"

#include <cstdlib>
#include <string>

#include "link_api.h"
#include "platform/system/system_services.h"

namespace rapi {
namespace {

template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(tova::sys::LibraryFunction(library, name));
    return function != nullptr;
}

// The library's name on the desktop it belongs to; elsewhere no such library exists.
#ifdef _WIN32
constexpr const char* kRemoteApiLibrary = "rapi.dll";
#else
constexpr const char* kRemoteApiLibrary = nullptr;
#endif

RemoteApi Select() {
    const char* endpoint = std::getenv("TOVA_RAPI");
    const bool linkAsked = endpoint != nullptr && *endpoint != '\0';
    RemoteApi bound{};
    if (!linkAsked && kRemoteApiLibrary != nullptr && BindRemoteApiLibrary(kRemoteApiLibrary, bound)) {
        tova::sys::DebugOutput("rapi: talking to the handheld through rapi.dll");
        return bound;
    }
    // Where the link is the only way there is, there is no choice to report.
    if (kRemoteApiLibrary != nullptr) {
        std::string line = "rapi: talking to the handheld through the tova-emu link at " + Endpoint();
        if (!linkAsked) line += " (no usable rapi.dll)";
        tova::sys::DebugOutput(line.c_str());
    }
    return LinkRemoteApi();
}

}  // namespace

const RemoteApi& LinkRemoteApi() {
    static const RemoteApi api{
        "tova-emu link",       link::CeRapiInit,    link::CeRapiUninit,    link::CeGetLastError,
        link::CeRapiGetError,  link::CeGetVersionEx, link::CeCreateFile,    link::CeWriteFile,
        link::CeSetEndOfFile,  link::CeCloseHandle, link::CeDeleteFile,    link::CeGetSpecialFolderPath,
        link::CeRapiInvoke,    false};
    return api;
}

bool BindRemoteApiLibrary(const char* file, RemoteApi& api) {
    void* library = tova::sys::LoadLibraryByName(file);
    if (library == nullptr) return false;
    RemoteApi bound{};
    bound.name = file;
    bound.releasesInputItself = true;
    bool complete = Bind(library, "CeRapiInit", bound.CeRapiInit) &&
                    Bind(library, "CeRapiUninit", bound.CeRapiUninit) &&
                    Bind(library, "CeGetVersionEx", bound.CeGetVersionEx) &&
                    Bind(library, "CeCreateFile", bound.CeCreateFile) &&
                    Bind(library, "CeWriteFile", bound.CeWriteFile) &&
                    Bind(library, "CeSetEndOfFile", bound.CeSetEndOfFile) &&
                    Bind(library, "CeCloseHandle", bound.CeCloseHandle) &&
                    Bind(library, "CeDeleteFile", bound.CeDeleteFile) &&
                    Bind(library, "CeGetSpecialFolderPath", bound.CeGetSpecialFolderPath) &&
                    Bind(library, "CeRapiInvoke", bound.CeRapiInvoke);
    if (!complete) return false;
    // Only what a caller looks at after a failure; a library without them still works.
    if (!Bind(library, "CeGetLastError", bound.CeGetLastError)) bound.CeGetLastError = link::CeGetLastError;
    if (!Bind(library, "CeRapiGetError", bound.CeRapiGetError)) bound.CeRapiGetError = link::CeRapiGetError;
    api = bound;
    return true;
}

const RemoteApi& SelectedRemoteApi() {
    static const RemoteApi api = Select();
    return api;
}

}  // namespace rapi
