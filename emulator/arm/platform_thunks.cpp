#include "emulator/arm/platform_thunks.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "debug_format.h"
#include "platform_call.h"
#include "emulator/arm/guest_call.h"
#include "emulator/arm/platform_imports.h"
#include "platform/wince/api.h"

namespace tova::arm {

namespace {

using Function = PlatformFunction;

HANDLE HostHandle(uint32_t value) {
    return value == 0xFFFFFFFFu ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(uintptr_t(value));
}
uint32_t GuestHandle(const void* handle) { return uint32_t(reinterpret_cast<uintptr_t>(handle)); }
HKEY HostKey(uint32_t value) { return reinterpret_cast<HKEY>(uintptr_t(value)); }
LPVOID ProcessAddress(uint32_t value) { return reinterpret_cast<LPVOID>(uintptr_t(value)); }
const char16_t* OrNull(const std::u16string& text, bool present) { return present ? text.c_str() : nullptr; }

// The call's failure: a bad pointer was logged already; the guest sees the value the
// function fails with and ERROR_INVALID_PARAMETER.
void Fail(GuestCall& call, uint32_t value) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    call.Return(value);
}

void StoreKey(uint8_t* guest, HKEY key) {
    if (!guest) return;
    const uint32_t value = GuestHandle(key);
    std::memcpy(guest, &value, 4);
}

// ---- Files ----

void CreateFile(GuestCall& call) {
    bool present = false;
    const std::u16string name = call.String(0, &present);
    const uint32_t access = call.Word(1), share = call.Word(2), disposition = call.Word(4);
    const uint32_t flags = call.Word(5);
    if (call.Bad()) return Fail(call, 0xFFFFFFFFu);
    // Security attributes and template handle are ignored by the platform; they never
    // reach it as host pointers.
    call.Return(GuestHandle(::CreateFileW(OrNull(name, present), access, share, nullptr, disposition,
                                          flags, nullptr)));
}

void GetFileSize(GuestCall& call) {
    const uint32_t file = call.Word(0);
    OutWord high(call.Buffer(1, 4));
    if (call.Bad()) return Fail(call, INVALID_FILE_SIZE);
    const DWORD low = ::GetFileSize(HostHandle(file), high.Pointer());
    high.Store();
    call.Return(low);
}

template <bool kWrite>
void TransferFile(GuestCall& call) {
    const uint32_t file = call.Word(0), bytes = call.Word(2);
    uint8_t* buffer = call.Buffer(1, bytes);
    OutWord done(call.Buffer(3, 4));
    const uint32_t overlapped = call.Word(4);
    if (call.Bad() || overlapped != 0) return Fail(call, FALSE);
    BOOL ok = kWrite ? ::WriteFile(HostHandle(file), buffer, bytes, done.Pointer(), nullptr)
                     : ::ReadFile(HostHandle(file), buffer, bytes, done.Pointer(), nullptr);
    done.Store();
    call.Return(uint32_t(ok));
}

void DeleteFile(GuestCall& call) {
    bool present = false;
    const std::u16string name = call.String(0, &present);
    if (call.Bad()) return Fail(call, FALSE);
    call.Return(uint32_t(::DeleteFileW(OrNull(name, present))));
}

// ---- Registry ----

void RegOpenKey(GuestCall& call) {
    bool present = false;
    const uint32_t root = call.Word(0);
    const std::u16string sub = call.String(1, &present);
    const uint32_t options = call.Word(2), sam = call.Word(3);
    uint8_t* result = call.Buffer(4, 4);
    if (call.Bad()) return Fail(call, ERROR_INVALID_PARAMETER);
    HKEY key = nullptr;
    const LONG r = ::RegOpenKeyExW(HostKey(root), OrNull(sub, present), options, sam, result ? &key : nullptr);
    StoreKey(result, key);
    call.Return(uint32_t(r));
}

void RegCreateKey(GuestCall& call) {
    bool subPresent = false, classPresent = false;
    const uint32_t root = call.Word(0);
    const std::u16string sub = call.String(1, &subPresent);
    const uint32_t reserved = call.Word(2);
    std::u16string keyClass = call.String(3, &classPresent);
    const uint32_t options = call.Word(4), sam = call.Word(5);
    uint8_t* result = call.Buffer(7, 4);
    OutWord disposition(call.Buffer(8, 4));
    if (call.Bad()) return Fail(call, ERROR_INVALID_PARAMETER);
    HKEY key = nullptr;
    const LONG r = ::RegCreateKeyExW(HostKey(root), OrNull(sub, subPresent), reserved,
                                     classPresent ? keyClass.data() : nullptr, options, sam, nullptr,
                                     result ? &key : nullptr, disposition.Pointer());
    StoreKey(result, key);
    disposition.Store();
    call.Return(uint32_t(r));
}

void RegEnumValue(GuestCall& call) {
    const uint32_t key = call.Word(0), index = call.Word(1);
    OutWord nameUnits(call.Buffer(3, 4));
    OutWord type(call.Buffer(5, 4));
    OutWord dataBytes(call.Buffer(7, 4));
    const uint32_t units = nameUnits.Pointer() ? *nameUnits.Pointer() : 0;
    const uint32_t bytes = dataBytes.Pointer() ? *dataBytes.Pointer() : 0;
    uint8_t* name = units <= kMaxGuestStringUnits ? call.Buffer(2, units * 2) : call.Buffer(2, 0xFFFFFFFFu);
    uint8_t* data = call.Buffer(6, bytes);
    if (call.Bad()) return Fail(call, ERROR_INVALID_PARAMETER);
    // The name is written through an aligned copy: a guest string need not be aligned.
    std::u16string nameCopy(units, u'\0');
    const LONG r = ::RegEnumValueW(HostKey(key), index, name ? nameCopy.data() : nullptr, nameUnits.Pointer(),
                                   nullptr, type.Pointer(), data, dataBytes.Pointer());
    if (name) std::memcpy(name, nameCopy.data(), size_t(units) * 2);
    nameUnits.Store();
    type.Store();
    dataBytes.Store();
    call.Return(uint32_t(r));
}

void RegQueryValue(GuestCall& call) {
    bool present = false;
    const uint32_t key = call.Word(0);
    const std::u16string name = call.String(1, &present);
    OutWord type(call.Buffer(3, 4));
    OutWord dataBytes(call.Buffer(5, 4));
    uint8_t* data = call.Buffer(4, dataBytes.Pointer() ? *dataBytes.Pointer() : 0);
    if (call.Bad()) return Fail(call, ERROR_INVALID_PARAMETER);
    const LONG r = ::RegQueryValueExW(HostKey(key), OrNull(name, present), nullptr, type.Pointer(), data,
                                      dataBytes.Pointer());
    type.Store();
    dataBytes.Store();
    call.Return(uint32_t(r));
}

void RegSetValue(GuestCall& call) {
    bool present = false;
    const uint32_t key = call.Word(0);
    const std::u16string name = call.String(1, &present);
    const uint32_t reserved = call.Word(2), type = call.Word(3), bytes = call.Word(5);
    const uint8_t* data = call.Buffer(4, bytes);
    if (call.Bad()) return Fail(call, ERROR_INVALID_PARAMETER);
    call.Return(uint32_t(::RegSetValueExW(HostKey(key), OrNull(name, present), reserved, type, data, bytes)));
}

template <LONG (*kDelete)(HKEY, LPCWSTR)>
void RegDeleteNamed(GuestCall& call) {
    bool present = false;
    const uint32_t key = call.Word(0);
    const std::u16string name = call.String(1, &present);
    if (call.Bad()) return Fail(call, ERROR_INVALID_PARAMETER);
    call.Return(uint32_t(kDelete(HostKey(key), OrNull(name, present))));
}

// ---- System ----

void KernelIoControl(GuestCall& call) {
    const uint32_t code = call.Word(0), inBytes = call.Word(2), outBytes = call.Word(4);
    uint8_t* in = call.Buffer(1, inBytes);
    uint8_t* out = call.Buffer(3, outBytes);
    OutWord returned(call.Buffer(5, 4));
    if (call.Bad()) return Fail(call, FALSE);
    const BOOL ok = ::KernelIoControl(code, in, inBytes, out, outBytes, returned.Pointer());
    returned.Store();
    call.Return(uint32_t(ok));
}

void GetPowerStatus(GuestCall& call) {
    const uint32_t bytes = call.Word(1), update = call.Word(2);
    uint8_t* status = call.Buffer(0, bytes);
    if (call.Bad()) return Fail(call, 0);
    SYSTEM_POWER_STATUS_EX2 copy{};
    const DWORD r = ::GetSystemPowerStatusEx2(status ? &copy : nullptr, bytes, BOOL(update));
    if (status && r != 0) std::memcpy(status, &copy, sizeof copy);
    call.Return(r);
}

void GetSystemInfo(GuestCall& call) {
    uint8_t* info = call.Buffer(0, sizeof(SYSTEM_INFO));
    if (call.Bad() || !info) return Fail(call, 0);
    SYSTEM_INFO copy{};
    ::GetSystemInfo(&copy);
    std::memcpy(info, &copy, sizeof copy);
}

void NKDbgPrint(GuestCall& call) {
    class Arguments final : public DebugArguments {
    public:
        explicit Arguments(GuestCall& call) : call_(call) {}
        uint32_t Word() override { return call_.Word(next_++); }
        uint64_t Pointer() override { return call_.Word(next_++); }
        std::u16string String(bool* isNull) override {
            const uint32_t address = call_.Word(next_++);
            *isNull = address == 0;
            return address ? call_.StringAt(address, "a %s argument") : std::u16string();
        }

    private:
        GuestCall& call_;
        unsigned next_ = 1;
    };
    bool present = false;
    const std::u16string format = call.String(0, &present);
    if (call.Bad() || !present) return;
    Arguments arguments(call);
    std::u16string line = FormatDebugLine(format.c_str(), arguments);
    if (!call.Bad()) PrintDebugLine(std::move(line));
}

// ---- Memory ----

void LocalAlloc(GuestCall& call, GuestHeap& heap) {
    const uint32_t bytes = call.Word(1);
    const uint32_t block = heap.Allocate(bytes);  // always zeroed: LMEM_ZEROINIT or not
    ::SetLastError(block ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
    call.Return(block);
}

void LocalFree(GuestCall& call, GuestHeap& heap) {
    const uint32_t block = call.Word(0);
    if (block == 0 || heap.Free(block)) return call.Return(0);
    ::SetLastError(ERROR_INVALID_HANDLE);
    call.Return(block);  // failure: the block is handed back
}

void VirtualAlloc(GuestCall& call) {
    const uint32_t address = call.Word(0), bytes = call.Word(1), type = call.Word(2), protect = call.Word(3);
    call.Return(GuestHandle(::VirtualAlloc(ProcessAddress(address), bytes, type, protect)));
}

void VirtualFree(GuestCall& call) {
    call.Return(uint32_t(::VirtualFree(ProcessAddress(call.Word(0)), call.Word(1), call.Word(2))));
}

void LockPages(GuestCall& call) {
    const uint32_t address = call.Word(0), bytes = call.Word(1), options = call.Word(3);
    // One physical address per page the range touches.
    const uint64_t pages = bytes == 0 ? 0 : (uint64_t(address) + bytes - 1) / 4096 - address / 4096 + 1;
    uint8_t* frames = call.Buffer(2, pages <= 0x100000 ? uint32_t(pages * 4) : 0xFFFFFFFFu);
    if (call.Bad()) return Fail(call, FALSE);
    std::vector<DWORD> copy(frames ? pages : 0);
    const BOOL ok = ::LockPages(ProcessAddress(address), bytes, frames ? copy.data() : nullptr, int(options));
    if (ok && frames) std::memcpy(frames, copy.data(), copy.size() * 4);
    call.Return(uint32_t(ok));
}

void Answer(Function function, GuestCall& call, GuestHeap& heap) {
    switch (function) {
    case Function::kKernelIoControl: return KernelIoControl(call);
    case Function::kGetSystemPowerStatusEx2: return GetPowerStatus(call);
    case Function::kGetSystemDefaultLangID: return call.Return(::GetSystemDefaultLangID());
    case Function::kGetSystemInfo: return GetSystemInfo(call);
    case Function::kGetLastError: return call.Return(::GetLastError());
    case Function::kSetLastError: return ::SetLastError(call.Word(0));
    case Function::kCreateFileW: return CreateFile(call);
    case Function::kGetFileSize: return GetFileSize(call);
    case Function::kReadFile: return TransferFile<false>(call);
    case Function::kWriteFile: return TransferFile<true>(call);
    case Function::kSetEndOfFile: return call.Return(uint32_t(::SetEndOfFile(HostHandle(call.Word(0)))));
    case Function::kCloseHandle: return call.Return(uint32_t(::CloseHandle(HostHandle(call.Word(0)))));
    case Function::kDeleteFileW: return DeleteFile(call);
    case Function::kRegOpenKeyExW: return RegOpenKey(call);
    case Function::kRegCreateKeyExW: return RegCreateKey(call);
    case Function::kRegEnumValueW: return RegEnumValue(call);
    case Function::kRegQueryValueExW: return RegQueryValue(call);
    case Function::kRegSetValueExW: return RegSetValue(call);
    case Function::kRegDeleteValueW: return RegDeleteNamed<::RegDeleteValueW>(call);
    case Function::kRegDeleteKeyW: return RegDeleteNamed<::RegDeleteKeyW>(call);
    case Function::kRegCloseKey: return call.Return(uint32_t(::RegCloseKey(HostKey(call.Word(0)))));
    case Function::kLocalAlloc: return LocalAlloc(call, heap);
    case Function::kLocalFree: return LocalFree(call, heap);
    case Function::kVirtualAlloc: return VirtualAlloc(call);
    case Function::kVirtualFree: return VirtualFree(call);
    case Function::kLockPages: return LockPages(call);
    case Function::kUnlockPages:
        return call.Return(uint32_t(::UnlockPages(ProcessAddress(call.Word(0)), call.Word(1))));
    case Function::kSetThreadPriority:
        return call.Return(uint32_t(::SetThreadPriority(HostHandle(call.Word(0)), int(call.Word(1)))));
    case Function::kCeSetThreadPriority:
        return call.Return(uint32_t(::CeSetThreadPriority(HostHandle(call.Word(0)), int(call.Word(1)))));
    case Function::kSleep: return ::Sleep(call.Word(0));
    case Function::kNKDbgPrintfW: return NKDbgPrint(call);
    case Function::kCount: break;
    }
}

}  // namespace

void PlatformThunks::Answer(cpu::ArmCpu& cpu) {
    auto function = ThunkCalledFrom(cpu.Register(15));
    if (!function) {
        char where[16];
        std::snprintf(where, sizeof where, "0x%08X", cpu.Register(15) - 4);
        cpu.StopWithGuestError(std::string("supervisor call at ") + where + " outside the platform's thunks");
        return;
    }
    const char* name = PlatformFunctionName(*function);
    // The platform runs from flash: called while a chip answers status instead of array
    // data, the handheld would fetch garbage.
    hw::FlashModel& flash = memory_.Board().Flash();
    if (!flash.Activity(0).readArray || !flash.Activity(1).readArray) {
        cpu.StopWithGuestError(std::string(name) + " called while a flash chip is out of read-array mode");
        return;
    }
    // Masking is the guest's own CPSR write on this CPU; the platform (which counts a
    // sleep with interrupts masked as a violation) learns of it at the next call.
    if (cpu.InterruptsMasked()) {
        PlatformCall platform;
        if (platform) platform->MaskInterrupts();
    }
    GuestCall call(cpu, memory_, name);
    tova::arm::Answer(*function, call, heap_);
}

}  // namespace tova::arm
