#include "request_handlers.h"

#include <cstring>
#include <string>

#include "platform/rapi/rapi.h"
#include "link_faults.h"
#include "platform/rapi/wire.h"
#include "server_counters.h"
#include "server_session.h"
#include "emulator/machine.h"
#include "emulator/object_store.h"
#include "platform/wince/api.h"

namespace tova::link {
namespace {

using rapi::wire::Command;
using rapi::wire::PayloadReader;
using rapi::wire::PayloadWriter;

// What the handheld reports as its operating system: Windows CE 4.20.
constexpr uint32_t kOsMajor = 4;
constexpr uint32_t kOsMinor = 20;
constexpr uint32_t kOsBuild = 1081;

struct Request {
    tova::Machine& machine;
    ServerSession& session;
    ServerCounters& counters;
    LinkFaultPlan& faults;
    PayloadReader& args;
    std::vector<uint8_t>& reply;
};

// Runs one file call inside the handheld, counted and delayed by the instrument.
template <typename Body>
RequestOutcome FileCall(Request& r, Body body) {
    r.counters.BeginFileCall();
    bool ran = r.machine.RunDeviceCall([&] {
        r.counters.DelayFileCall();
        body();
    });
    r.counters.EndFileCall();
    return ran ? RequestOutcome::kReply : RequestOutcome::kLinkGone;
}

RequestOutcome Finish(Request& r, RequestOutcome outcome, const PayloadWriter& answer) {
    if (outcome == RequestOutcome::kReply) r.reply = answer.Payload();
    return outcome;
}

RequestOutcome CreateFile(Request& r) {
    std::u16string path;
    uint32_t access = 0, share = 0, creation = 0, attributes = 0;
    r.args.String(path);
    r.args.U32(access);
    r.args.U32(share);
    r.args.U32(creation);
    r.args.U32(attributes);
    if (!r.args.AtEnd()) return RequestOutcome::kProtocolError;
    PayloadWriter answer(Command::kCreateFile);
    auto outcome = FileCall(r, [&] {
        HANDLE handle = CreateFileW(path.c_str(), access, share, nullptr, creation, attributes, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            answer.U32(rapi::wire::kInvalidHandle).U32(GetLastError());
        } else {
            answer.U32(r.session.AddHandle(handle)).U32(ERROR_SUCCESS);
        }
    });
    return Finish(r, outcome, answer);
}

RequestOutcome WriteFileRequest(Request& r) {
    uint32_t id = 0, count = 0;
    const uint8_t* data = nullptr;
    r.args.U32(id);
    r.args.Bytes(data, count);
    if (!r.args.AtEnd()) return RequestOutcome::kProtocolError;
    PayloadWriter answer(Command::kWriteFile);
    WriteAllowance allowance;
    auto outcome = FileCall(r, [&] {
        HANDLE handle = r.session.FindHandle(id);
        DWORD written = 0;
        if (handle == nullptr) {
            answer.U32(FALSE).U32(0).U32(ERROR_INVALID_HANDLE);
            return;
        }
        allowance = r.faults.BookWrite(count);
        if (allowance.cutOff) return;
        if (WriteFile(handle, data, allowance.bytes, &written, nullptr)) {
            answer.U32(TRUE).U32(written).U32(ERROR_SUCCESS);
        } else {
            answer.U32(FALSE).U32(written).U32(GetLastError());
        }
    });
    if (allowance.LinkGoes()) {
        // The cable comes out while this write is in flight: it gets no answer.
        r.faults.Fire(allowance);
        return RequestOutcome::kLinkGone;
    }
    return Finish(r, outcome, answer);
}

// Requests that name a handle and answer "ok, error".
template <typename Call>
RequestOutcome HandleRequestOn(Request& r, Command command, bool forget, Call call) {
    uint32_t id = 0;
    r.args.U32(id);
    if (!r.args.AtEnd()) return RequestOutcome::kProtocolError;
    PayloadWriter answer(command);
    auto outcome = FileCall(r, [&] {
        HANDLE handle = forget ? r.session.TakeHandle(id) : r.session.FindHandle(id);
        if (handle == nullptr) {
            answer.U32(FALSE).U32(ERROR_INVALID_HANDLE);
        } else if (call(handle)) {
            answer.U32(TRUE).U32(ERROR_SUCCESS);
        } else {
            answer.U32(FALSE).U32(GetLastError());
        }
    });
    return Finish(r, outcome, answer);
}

RequestOutcome DeleteFile(Request& r) {
    std::u16string path;
    r.args.String(path);
    if (!r.args.AtEnd()) return RequestOutcome::kProtocolError;
    PayloadWriter answer(Command::kDeleteFile);
    auto outcome = FileCall(r, [&] {
        if (DeleteFileW(path.c_str())) {
            answer.U32(TRUE).U32(ERROR_SUCCESS);
        } else {
            answer.U32(FALSE).U32(GetLastError());
        }
    });
    return Finish(r, outcome, answer);
}

RequestOutcome GetSpecialFolderPath(Request& r) {
    uint32_t folder = 0, bufferLength = 0;
    r.args.U32(folder);
    r.args.U32(bufferLength);
    if (!r.args.AtEnd()) return RequestOutcome::kProtocolError;
    PayloadWriter answer(Command::kGetSpecialFolderPath);
    auto outcome = FileCall(r, [&] {
        std::u16string path = tova::Machine::StartupFolder();
        if (folder != CSIDL_STARTUP) {
            answer.U32(0).U32(ERROR_INVALID_PARAMETER);
        } else if (path.size() >= bufferLength) {
            answer.U32(0).U32(ERROR_INSUFFICIENT_BUFFER);
        } else {
            answer.U32(static_cast<uint32_t>(path.size())).U32(ERROR_SUCCESS).String(path);
        }
    });
    return Finish(r, outcome, answer);
}

RequestOutcome GetVersionEx(Request& r) {
    if (!r.args.AtEnd()) return RequestOutcome::kProtocolError;
    PayloadWriter answer(Command::kGetVersionEx);
    auto outcome = FileCall(r, [&] {
        answer.U32(TRUE).U32(kOsMajor).U32(kOsMinor).U32(kOsBuild).U32(VER_PLATFORM_WIN32_CE).String(u"");
    });
    return Finish(r, outcome, answer);
}

std::unique_ptr<LoadedModule> LoadLibrary(tova::Machine& machine, const std::u16string& name) {
    std::string error;
    // A rooted name is a full handheld path; a plain one means \Windows\<name>.DLL.
    if (!name.empty() && name[0] == u'\\') return machine.LoadModule(name, &error);
    return machine.LoadLibraryModule(name, &error);
}

bool AsciiName(const std::u16string& wide, std::string& narrow) {
    narrow.clear();
    for (char16_t unit : wide) {
        if (unit == 0 || unit > 0x7E) return false;
        narrow.push_back(static_cast<char>(unit));
    }
    return !narrow.empty();
}

// Calls the export as the handheld's remote API service does: the input in a LocalAlloc
// block, released afterwards unless the export released it; the output sent and released.
void CallExport(tova::Machine& machine, PFN_RAPI_EXTENSION function, const uint8_t* data,
                uint32_t count, PayloadWriter& answer) {
    BYTE* input = nullptr;
    if (count > 0) {
        input = static_cast<BYTE*>(LocalAlloc(LPTR, count));
        if (input == nullptr) {
            answer.U32(static_cast<uint32_t>(E_OUTOFMEMORY)).Bytes(nullptr, 0);
            return;
        }
        std::memcpy(input, data, count);
    }
    DWORD outputBytes = 0;
    BYTE* output = nullptr;
    HRESULT result = function(count, input, &outputBytes, &output, nullptr);
    if (input != nullptr && machine.IsLiveLocalAllocation(input)) LocalFree(input);

    // Only a live LocalAlloc block is read: anything else may already be gone.
    bool readable = output != nullptr && machine.IsLiveLocalAllocation(output);
    if (readable && outputBytes > rapi::wire::kMaxDataBytes) {
        result = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        outputBytes = 0;
    }
    answer.U32(static_cast<uint32_t>(result));
    answer.Bytes(readable ? output : nullptr, readable ? outputBytes : 0);
    if (readable) LocalFree(output);
}

// The same for a module on the handheld's CPU, whose blocks live in guest memory.
void CallCpuExport(tova::CpuExports& cpu, const std::string& symbol, const uint8_t* data, uint32_t count,
                   PayloadWriter& answer) {
    tova::BlockModeAnswer a = cpu.CallBlockMode(symbol.c_str(), data, count);
    if (a.outputReadable && a.output.size() > rapi::wire::kMaxDataBytes) {
        a.result = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        a.output.clear();
    }
    answer.U32(static_cast<uint32_t>(a.result));
    answer.Bytes(a.output.empty() ? nullptr : a.output.data(), uint32_t(a.output.size()));
}

RequestOutcome Invoke(Request& r) {
    std::u16string library, function;
    const uint8_t* data = nullptr;
    uint32_t count = 0;
    r.args.String(library);
    r.args.String(function);
    r.args.Bytes(data, count);
    if (!r.args.AtEnd()) return RequestOutcome::kProtocolError;
    r.counters.Invocation();
    PayloadWriter answer(Command::kInvoke);
    bool ran = r.machine.RunDeviceCall([&] {
        auto module = LoadLibrary(r.machine, library);
        std::string symbol;
        if (module == nullptr) {
            answer.U32(static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))).Bytes(nullptr, 0);
            return;
        }
        if (tova::CpuExports* cpu = module->Cpu()) {
            if (!AsciiName(function, symbol) || !cpu->Has(symbol.c_str())) {
                answer.U32(static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND))).Bytes(nullptr, 0);
                return;
            }
            if (auto damaged = r.faults.TakeDamage(symbol)) DamageFirstByte(r.machine, *damaged);
            CallCpuExport(*cpu, symbol, data, count, answer);
            return;
        }
        auto export_ = AsciiName(function, symbol)
                           ? module->Function<PFN_RAPI_EXTENSION>(symbol.c_str())
                           : nullptr;
        if (export_ == nullptr) {
            answer.U32(static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND))).Bytes(nullptr, 0);
            return;
        }
        if (auto damaged = r.faults.TakeDamage(symbol)) DamageFirstByte(r.machine, *damaged);
        CallExport(r.machine, export_, data, count, answer);
    });
    return Finish(r, ran ? RequestOutcome::kReply : RequestOutcome::kLinkGone, answer);
}

}  // namespace

RequestOutcome HandleRequest(tova::Machine& machine, ServerSession& session,
                             ServerCounters& counters, LinkFaultPlan& faults,
                             const std::vector<uint8_t>& request, std::vector<uint8_t>& reply) {
    PayloadReader args(request);
    uint32_t code = 0;
    if (!args.U32(code)) return RequestOutcome::kProtocolError;
    Request r{machine, session, counters, faults, args, reply};
    switch (static_cast<Command>(code)) {
        case Command::kCreateFile:
            return CreateFile(r);
        case Command::kWriteFile:
            return WriteFileRequest(r);
        case Command::kSetEndOfFile:
            return HandleRequestOn(r, Command::kSetEndOfFile, false,
                                   [](HANDLE handle) { return SetEndOfFile(handle); });
        case Command::kCloseHandle:
            return HandleRequestOn(r, Command::kCloseHandle, true,
                                   [](HANDLE handle) { return CloseHandle(handle); });
        case Command::kDeleteFile:
            return DeleteFile(r);
        case Command::kGetSpecialFolderPath:
            return GetSpecialFolderPath(r);
        case Command::kGetVersionEx:
            return GetVersionEx(r);
        case Command::kInvoke:
            return Invoke(r);
        case Command::kHello:  // only as a connection's first frame
        default:
            return RequestOutcome::kProtocolError;
    }
}

}  // namespace tova::link
