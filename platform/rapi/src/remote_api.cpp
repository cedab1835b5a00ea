// The remote API calls as a client of the handheld's link server.
#include "link_api.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

#include "endpoint.h"
#include "platform/clock/clock.h"
#include "platform/rapi/local_memory.h"
#include "platform/rapi/wire.h"
#include "session.h"

namespace {

using rapi::Lease;
using rapi::Session;
using rapi::wire::Command;
using rapi::wire::PayloadReader;
using rapi::wire::PayloadWriter;

// Pause between connection attempts while nothing accepts (nominal).
constexpr uint64_t kInitRetryMs = 250;

struct Client {
    std::mutex mutex;
    std::condition_variable cancelled;
    std::shared_ptr<Session> session;
    uint64_t generation = 0;  // CeRapiUninit bumps it: waiting CeRapiInit calls give up
};

// Never destroyed: an abandoned CeRapiInit may still be waiting when the program exits.
Client& TheClient() {
    static auto* client = new Client;
    return *client;
}

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local HRESULT t_linkError = S_OK;

void SetDeviceError(DWORD error) {
    t_lastError = error;
    t_linkError = S_OK;
}

void SetLinkError(DWORD error) {
    t_lastError = error;
    t_linkError = HRESULT_FROM_WIN32(error);
}

std::shared_ptr<Session> CurrentSession() {
    Client& client = TheClient();
    std::lock_guard lock(client.mutex);
    return client.session;
}

// One request and its reply over a connection of the current session. On failure the
// thread's link error is set and the caller returns the call's failure value.
// The session an invocation runs on. The desktop's connection manager re-establishes a
// dropped link for the next invocation: when the current session has died, one new session
// is asked for, knocking for at most a second, and becomes the current one if the handheld accepts it.
// Without a session (no CeRapiInit, or after CeRapiUninit) there is nothing to re-establish.
std::shared_ptr<Session> SessionForInvocation() {
    Client& client = TheClient();
    std::shared_ptr<Session> current;
    uint64_t generation;
    {
        std::lock_guard lock(client.mutex);
        current = client.session;
        generation = client.generation;
    }
    if (!current || current->Alive()) return current;
    auto address = rapi::ParseEndpoint(rapi::Endpoint());
    if (!address) return current;
    // A handheld that blinked may take a moment to accept again: knock for a short while,
    // never longer than a second (scaled), before the invocation fails.
    constexpr uint64_t kReopenWindowMs = 1000, kKnockIntervalMs = 20;
    auto giveUp = std::chrono::steady_clock::now() + tova::ScaledMs(kReopenWindowMs);
    std::shared_ptr<Session> opened = Session::Open(*address);
    while (!opened && std::chrono::steady_clock::now() < giveUp) {
        tova::ScaledSleep(kKnockIntervalMs);
        opened = Session::Open(*address);
    }
    if (!opened) return current;
    std::lock_guard lock(client.mutex);
    if (client.generation != generation || client.session != current) {
        // Ended meanwhile, or a CeRapiInit got there first: its session stands.
        opened->Kill();
        return client.session;
    }
    client.session = opened;
    return opened;
}

class Call {
public:
    Call() : Call(CurrentSession()) {}
    explicit Call(std::shared_ptr<Session> session)
        : session_(std::move(session)), lease_(session_ ? session_->Acquire() : Lease()) {
        if (!lease_) SetLinkError(ERROR_NOT_CONNECTED);
    }
    bool Ready() const { return static_cast<bool>(lease_); }

    // The reply's reader, positioned after the command code; null when the link failed.
    PayloadReader* Exchange(const PayloadWriter& request) {
        if (!lease_) return nullptr;
        if (!lease_.Exchange(request.Payload(), reply_)) {
            SetLinkError(ERROR_CONNECTION_ABORTED);
            return nullptr;
        }
        reader_.emplace(reply_);
        uint32_t command = 0;
        reader_->U32(command);
        return &*reader_;
    }
    // The reply did not have the expected shape: the peer is unusable.
    bool Malformed() {
        lease_.MarkBroken();
        SetLinkError(ERROR_CONNECTION_ABORTED);
        return false;
    }

private:
    std::shared_ptr<Session> session_;  // keeps the session alive while the lease lives
    Lease lease_;
    std::vector<uint8_t> reply_;
    std::optional<PayloadReader> reader_;
};

bool FitsWire(LPCWSTR text) {
    if (text == nullptr) return false;
    size_t units = 0;
    while (text[units] != 0) {
        if (++units >= rapi::wire::kMaxStringUnits) return false;
    }
    return true;
}

bool HandleToWire(HANDLE handle, uint32_t& id) {
    if (handle == INVALID_HANDLE_VALUE) {
        id = rapi::wire::kInvalidHandle;
        return true;
    }
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value >= rapi::wire::kInvalidHandle) return false;
    id = static_cast<uint32_t>(value);
    return true;
}

// Calls whose reply is "u32 ok, u32 error".
BOOL SimpleCall(const PayloadWriter& request) {
    Call call;
    PayloadReader* reply = call.Exchange(request);
    if (reply == nullptr) return FALSE;
    uint32_t ok = 0, error = 0;
    if (!reply->U32(ok) || !reply->U32(error) || !reply->AtEnd()) return call.Malformed();
    SetDeviceError(ok ? ERROR_SUCCESS : error);
    return ok ? TRUE : FALSE;
}

BOOL HandleCall(Command command, HANDLE handle) {
    uint32_t id = 0;
    if (!HandleToWire(handle, id)) {
        SetDeviceError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return SimpleCall(PayloadWriter(command).U32(id));
}

}  // namespace

namespace rapi::link {

HRESULT CeRapiInit(void) {
    auto address = rapi::ParseEndpoint(rapi::Endpoint());
    if (!address) return E_FAIL;
    Client& client = TheClient();
    uint64_t generation;
    {
        std::lock_guard lock(client.mutex);
        generation = client.generation;
        if (client.session && client.session->Alive()) return CERAPI_E_ALREADYINITIALIZED;
    }
    for (;;) {
        std::shared_ptr<Session> opened = Session::Open(*address);
        std::unique_lock lock(client.mutex);
        if (client.generation != generation) {
            if (opened) opened->Kill();
            return E_FAIL;
        }
        if (opened) {
            // Another start may have connected meanwhile; never cut a working session.
            if (client.session && client.session->Alive()) {
                opened->Kill();
                return CERAPI_E_ALREADYINITIALIZED;
            }
            if (client.session) client.session->Kill();
            client.session = std::move(opened);
            return S_OK;
        }
        auto pause = std::max<std::chrono::nanoseconds>(tova::ScaledMs(kInitRetryMs),
                                                        std::chrono::milliseconds(1));
        client.cancelled.wait_for(lock, pause, [&] { return client.generation != generation; });
        if (client.generation != generation) return E_FAIL;
    }
}

HRESULT CeRapiUninit(void) {
    Client& client = TheClient();
    std::shared_ptr<Session> ended;
    {
        std::lock_guard lock(client.mutex);
        ++client.generation;
        ended = std::move(client.session);
    }
    client.cancelled.notify_all();
    if (ended) ended->Kill();
    return S_OK;
}

DWORD CeGetLastError(void) { return t_lastError; }

HRESULT CeRapiGetError(void) { return t_linkError; }

BOOL CeGetVersionEx(LPCEOSVERSIONINFO lpVersionInformation) {
    if (lpVersionInformation == nullptr) {
        SetDeviceError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Call call;
    PayloadReader* reply = call.Exchange(PayloadWriter(Command::kGetVersionEx));
    if (reply == nullptr) return FALSE;
    uint32_t ok = 0, major = 0, minor = 0, build = 0, platform = 0;
    std::u16string csd;
    if (!reply->U32(ok) || !reply->U32(major) || !reply->U32(minor) || !reply->U32(build) ||
        !reply->U32(platform) || !reply->String(csd) || !reply->AtEnd() ||
        csd.size() >= std::size(lpVersionInformation->szCSDVersion)) {
        return call.Malformed();
    }
    if (!ok) {
        SetDeviceError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    lpVersionInformation->dwOSVersionInfoSize = sizeof(CEOSVERSIONINFO);
    lpVersionInformation->dwMajorVersion = major;
    lpVersionInformation->dwMinorVersion = minor;
    lpVersionInformation->dwBuildNumber = build;
    lpVersionInformation->dwPlatformId = platform;
    std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
    std::copy(csd.begin(), csd.end(), lpVersionInformation->szCSDVersion);
    SetDeviceError(ERROR_SUCCESS);
    return TRUE;
}

HANDLE CeCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                    LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                    DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (!FitsWire(lpFileName)) {
        SetDeviceError(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    Call call;
    PayloadReader* reply = call.Exchange(PayloadWriter(Command::kCreateFile)
                                             .String(lpFileName)
                                             .U32(dwDesiredAccess)
                                             .U32(dwShareMode)
                                             .U32(dwCreationDisposition)
                                             .U32(dwFlagsAndAttributes));
    if (reply == nullptr) return INVALID_HANDLE_VALUE;
    uint32_t id = 0, error = 0;
    if (!reply->U32(id) || !reply->U32(error) || !reply->AtEnd() || id == 0) {
        call.Malformed();
        return INVALID_HANDLE_VALUE;
    }
    if (id == rapi::wire::kInvalidHandle) {
        SetDeviceError(error);
        return INVALID_HANDLE_VALUE;
    }
    SetDeviceError(ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id));
}

BOOL CeWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
    uint32_t id = 0;
    if (!HandleToWire(hFile, id)) {
        SetDeviceError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite > 0)) {
        SetDeviceError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Call call;
    if (!call.Ready()) return FALSE;
    const auto* data = static_cast<const uint8_t*>(lpBuffer);
    DWORD total = 0;
    // A large write travels in frame-sized chunks on one connection.
    do {
        uint32_t chunk = std::min<uint32_t>(nNumberOfBytesToWrite - total, rapi::wire::kMaxDataBytes);
        PayloadReader* reply =
            call.Exchange(PayloadWriter(Command::kWriteFile).U32(id).Bytes(data + total, chunk));
        if (reply == nullptr) return FALSE;
        uint32_t ok = 0, written = 0, error = 0;
        if (!reply->U32(ok) || !reply->U32(written) || !reply->U32(error) || !reply->AtEnd() ||
            written > chunk) {
            return call.Malformed();
        }
        total += written;
        if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = total;
        if (!ok) {
            SetDeviceError(error);
            return FALSE;
        }
        if (written < chunk) break;
    } while (total < nNumberOfBytesToWrite);
    SetDeviceError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CeSetEndOfFile(HANDLE hFile) { return HandleCall(Command::kSetEndOfFile, hFile); }

BOOL CeCloseHandle(HANDLE hObject) { return HandleCall(Command::kCloseHandle, hObject); }

BOOL CeDeleteFile(LPCWSTR lpFileName) {
    if (!FitsWire(lpFileName)) {
        SetDeviceError(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_NAME);
        return FALSE;
    }
    return SimpleCall(PayloadWriter(Command::kDeleteFile).String(lpFileName));
}

DWORD CeGetSpecialFolderPath(int nFolder, DWORD nBufferLength, LPWSTR lpBuffer) {
    if (lpBuffer == nullptr || nBufferLength == 0) {
        SetDeviceError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Call call;
    PayloadReader* reply = call.Exchange(PayloadWriter(Command::kGetSpecialFolderPath)
                                             .U32(static_cast<uint32_t>(nFolder))
                                             .U32(nBufferLength));
    if (reply == nullptr) return 0;
    uint32_t length = 0, error = 0;
    if (!reply->U32(length) || !reply->U32(error)) return call.Malformed();
    if (length == 0) {
        if (!reply->AtEnd()) return call.Malformed();
        SetDeviceError(error);
        return 0;
    }
    std::u16string path;
    if (!reply->String(path) || !reply->AtEnd() || path.size() != length) return call.Malformed();
    if (length >= nBufferLength) {
        SetDeviceError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(path.begin(), path.end(), lpBuffer);
    lpBuffer[length] = 0;
    SetDeviceError(ERROR_SUCCESS);
    return length;
}

HRESULT CeRapiInvoke(LPCWSTR pDllPath, LPCWSTR pFunctionName, DWORD cbInput, BYTE* pInput,
                     DWORD* pcbOutput, BYTE** ppOutput, IRAPIStream** ppIRAPIStream,
                     DWORD dwReserved) {
    // The input block is the platform's to release, whatever happens below.
    struct InputRelease {
        BYTE* block;
        ~InputRelease() { win32::LocalFree(block); }
    } release{pInput};
    if (pcbOutput != nullptr) *pcbOutput = 0;
    if (ppOutput != nullptr) *ppOutput = nullptr;
    if (ppIRAPIStream != nullptr) {
        *ppIRAPIStream = nullptr;
        return E_NOTIMPL;
    }
    if (!FitsWire(pDllPath) || !FitsWire(pFunctionName) ||
        (pInput == nullptr && cbInput > 0) || cbInput > rapi::wire::kMaxDataBytes) {
        return E_INVALIDARG;
    }
    Call call(SessionForInvocation());
    PayloadReader* reply = call.Exchange(PayloadWriter(Command::kInvoke)
                                             .String(pDllPath)
                                             .String(pFunctionName)
                                             .Bytes(pInput, cbInput));
    if (reply == nullptr) return CeRapiGetError();
    uint32_t result = 0, count = 0;
    const uint8_t* output = nullptr;
    if (!reply->U32(result) || !reply->Bytes(output, count) || !reply->AtEnd()) {
        call.Malformed();
        return CeRapiGetError();
    }
    SetDeviceError(ERROR_SUCCESS);
    if (count > 0 && ppOutput != nullptr) {
        auto* block = static_cast<BYTE*>(win32::LocalAlloc(LMEM_FIXED, count));
        if (block == nullptr) return E_OUTOFMEMORY;
        std::memcpy(block, output, count);
        *ppOutput = block;
        if (pcbOutput != nullptr) *pcbOutput = count;
    }
    return static_cast<HRESULT>(result);
}

}  // namespace rapi::link
