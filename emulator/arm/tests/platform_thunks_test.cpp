// ARM code reaching the Windows CE API through the platform's thunks on a booted handheld:
// arguments from registers and the stack, guest pointers translated with bounds checks,
// memory the platform hands out in guest RAM. Each test calls a thunk as a module's code
// calls it (its address, the procedure call standard), on a CPU of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "handheld_fixture.h"
#include "emulator/arm/guest_heap.h"
#include "emulator/arm/guest_thread.h"
#include "emulator/arm/platform_imports.h"
#include "platform/wince/api.h"
#include "shared/flash_map.h"

namespace tova::arm {
namespace {

using F = PlatformFunction;

class PlatformThunksTest : public testing::HandheldTest {
protected:
    void SetUp() override {
        HandheldTest::SetUp();
        MakeBooted();
        memory_ = std::make_unique<GuestMemory>(M().Board());
        heap_ = std::make_unique<GuestHeap>(*memory_);
        thread_ = std::make_unique<GuestThread>(*memory_, *heap_);
    }
    void TearDown() override {
        thread_.reset();
        heap_.reset();
        memory_.reset();
        HandheldTest::TearDown();
    }

    // Calls a platform function from guest code; fails the test on a guest error that ends
    // the thread (a failed platform call is not one).
    uint32_t CallPlatform(F function, std::vector<uint32_t> arguments) {
        cpu::ArmCpu::Result result{};
        EXPECT_TRUE(M().RunDeviceCall([&] { result = thread_->Call(ThunkAddress(function), arguments); }));
        EXPECT_TRUE(result.ok) << result.error;
        return result.value;
    }
    uint32_t GuestBytes(const void* data, uint32_t bytes) {
        const uint32_t block = heap_->Allocate(bytes);
        EXPECT_NE(block, 0u);
        std::memcpy(memory_->Host(block, bytes), data, bytes);
        return block;
    }
    uint32_t GuestString(const std::u16string& text) {
        return GuestBytes(text.c_str(), uint32_t((text.size() + 1) * 2));
    }
    uint32_t GuestWordAt(uint32_t address) {
        uint32_t value = 0;
        std::memcpy(&value, memory_->Host(address, 4), 4);
        return value;
    }
    uint64_t PlatformGuestErrors() {
        uint64_t count = 0;
        for (const hw::GuestError& e : M().Bus().GuestErrors().Entries()) count += e.device == "platform";
        return count;
    }
    std::string LastGuestError() {
        auto entries = M().Bus().GuestErrors().Entries();
        return entries.empty() ? std::string() : entries.back().detail;
    }
    uint32_t RamEnd() const { return hw::kRamCachedWindow + machine_->Ram().Size(); }

    std::unique_ptr<GuestMemory> memory_;
    std::unique_ptr<GuestHeap> heap_;
    std::unique_ptr<GuestThread> thread_;
};

TEST_F(PlatformThunksTest, CreateFileWithANameOutsideGuestMemoryFailsTheCallOnly) {
    const uint32_t endOfRam = RamEnd();
    // A string that runs off the end of RAM: its last unit is the window's last.
    const uint32_t unterminated = endOfRam - 4;
    std::memcpy(memory_->Host(unterminated, 4), u"AB", 4);
    for (uint32_t name : {0x00001000u, 0x10000000u, 0x80000000u, endOfRam, 0xFFFFFFFEu, unterminated}) {
        SCOPED_TRACE(name);
        M().Bus().GuestErrors().Clear();
        const uint32_t handle = CallPlatform(
            F::kCreateFileW, {name, GENERIC_READ, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0});
        EXPECT_EQ(handle, 0xFFFFFFFFu) << "INVALID_HANDLE_VALUE";
        EXPECT_EQ(CallPlatform(F::kGetLastError, {}), uint32_t(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(PlatformGuestErrors(), 1u);
        EXPECT_NE(LastGuestError().find("CreateFileW: argument 1"), std::string::npos) << LastGuestError();
    }
}

TEST_F(PlatformThunksTest, FilesAreWrittenAndReadBackThroughGuestBuffers) {
    const uint32_t name = GuestString(u"\\Temp\\guest.bin");
    const uint32_t handle = CallPlatform(
        F::kCreateFileW, {name, GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0});
    ASSERT_NE(handle, 0xFFFFFFFFu);
    const char payload[] = "written by ARM code";
    const uint32_t data = GuestBytes(payload, sizeof payload);
    const uint32_t counts = heap_->Allocate(16);
    const uint32_t unalignedCount = counts + 1;  // out-parameters need not be aligned
    EXPECT_EQ(CallPlatform(F::kWriteFile, {handle, data, sizeof payload, unalignedCount, 0}), 1u);
    EXPECT_EQ(GuestWordAt(unalignedCount), sizeof payload);
    EXPECT_EQ(CallPlatform(F::kCloseHandle, {handle}), 1u);

    auto stored = M().Store().ReadFile(u"\\Temp\\guest.bin");
    ASSERT_TRUE(stored);
    EXPECT_EQ(std::string(stored->begin(), stored->end()), std::string(payload, sizeof payload));

    const uint32_t again = CallPlatform(
        F::kCreateFileW, {name, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0});
    ASSERT_NE(again, 0xFFFFFFFFu);
    EXPECT_EQ(CallPlatform(F::kGetFileSize, {again, counts + 8}), sizeof payload);
    EXPECT_EQ(GuestWordAt(counts + 8), 0u) << "high word";
    const uint32_t back = heap_->Allocate(64);
    EXPECT_EQ(CallPlatform(F::kReadFile, {again, back, 64, counts, 0}), 1u);
    EXPECT_EQ(GuestWordAt(counts), sizeof payload);
    EXPECT_EQ(std::memcmp(memory_->Host(back, sizeof payload), payload, sizeof payload), 0);

    // A buffer that runs past the end of RAM fails the read; nothing is read.
    EXPECT_EQ(CallPlatform(F::kReadFile, {again, RamEnd() - 8, 64, counts, 0}), 0u);
    EXPECT_EQ(CallPlatform(F::kGetLastError, {}), uint32_t(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(PlatformGuestErrors(), 1u);
    EXPECT_EQ(CallPlatform(F::kCloseHandle, {again}), 1u);
}

TEST_F(PlatformThunksTest, StackArgumentsAreReadAndCheckedToo) {
    // KernelIoControl's sixth argument (bytes returned) is the second word on the stack.
    const uint32_t id = heap_->Allocate(16);
    const uint32_t returned = heap_->Allocate(4);
    EXPECT_EQ(CallPlatform(F::kKernelIoControl, {IOCTL_HAL_GET_UUID, 0, 0, id, 16, returned}), 1u);
    uint8_t expected[16] = {};
    DWORD hostReturned = 0;
    ASSERT_TRUE(M().RunDeviceCall([&] {
        KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, expected, sizeof expected, &hostReturned);
    }));
    EXPECT_EQ(std::memcmp(memory_->Host(id, 16), expected, 16), 0);
    EXPECT_EQ(GuestWordAt(returned), hostReturned);

    EXPECT_EQ(CallPlatform(F::kKernelIoControl, {IOCTL_HAL_GET_UUID, 0, 0, id, 16, 0x20000000}), 0u);
    EXPECT_NE(LastGuestError().find("KernelIoControl: argument 6"), std::string::npos) << LastGuestError();
    // An output buffer longer than what is left of RAM.
    EXPECT_EQ(CallPlatform(F::kKernelIoControl, {IOCTL_HAL_GET_UUID, 0, 0, RamEnd() - 8, 16, 0}), 0u);
    EXPECT_EQ(PlatformGuestErrors(), 2u);
}

TEST_F(PlatformThunksTest, LocalAllocHandsOutGuestMemoryThatIsFreedOnce) {
    const uint32_t block = CallPlatform(F::kLocalAlloc, {LPTR, 100});
    ASSERT_NE(block, 0u);
    ASSERT_NE(memory_->Host(block, 100), nullptr) << "a guest address in RAM";
    EXPECT_TRUE(heap_->IsLive(block));
    const uint8_t* bytes = memory_->Host(block, 100);
    EXPECT_TRUE(std::all_of(bytes, bytes + 100, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(CallPlatform(F::kLocalFree, {block}), 0u);
    EXPECT_FALSE(heap_->IsLive(block));
    EXPECT_EQ(CallPlatform(F::kLocalFree, {block}), block) << "a second free hands the block back";
    EXPECT_EQ(CallPlatform(F::kGetLastError, {}), uint32_t(ERROR_INVALID_HANDLE));
    EXPECT_EQ(CallPlatform(F::kLocalAlloc, {LPTR, 0x7FFFFFFF}), 0u);
    EXPECT_EQ(CallPlatform(F::kGetLastError, {}), uint32_t(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(heap_->Outstanding(), 0u);
}

TEST_F(PlatformThunksTest, DebugPrintFormatsFromGuestRegistersAndStack) {
    const uint32_t format = GuestString(u"FLASH: %s %d %X %u %c%%\n");
    const uint32_t word = GuestString(u"start");
    // Five varargs: three in r1-r3, two on the stack.
    CallPlatform(F::kNKDbgPrintfW, {format, word, uint32_t(-12), 0xBEEF, 7, 'Z'});
    auto lines = M().DebugLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), u"FLASH: start -12 BEEF 7 Z%");

    const size_t before = M().DebugLines().size();
    CallPlatform(F::kNKDbgPrintfW, {format, 0x30000000, 1, 2, 3, 4});
    EXPECT_EQ(M().DebugLines().size(), before) << "a bad %s pointer prints nothing";
    EXPECT_EQ(PlatformGuestErrors(), 1u);
}

TEST_F(PlatformThunksTest, RegistryKeysComeBackAsGuestHandles) {
    const uint32_t path = GuestString(u"Drivers\\BuiltIn\\USB");
    const uint32_t key = heap_->Allocate(4);
    ASSERT_EQ(CallPlatform(F::kRegOpenKeyExW, {0x80000002u, path, 0, 0, key}), uint32_t(ERROR_SUCCESS));
    const uint32_t handle = GuestWordAt(key);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(CallPlatform(F::kRegCloseKey, {handle}), uint32_t(ERROR_SUCCESS));
    EXPECT_EQ(CallPlatform(F::kRegOpenKeyExW, {0x80000002u, path, 0, 0, 0x50000000}),
              uint32_t(ERROR_INVALID_PARAMETER));
}

TEST_F(PlatformThunksTest, AnSvcOutsideTheThunksEndsTheThreadWithAGuestError) {
    const uint32_t code = heap_->Allocate(8);
    const uint32_t words[2] = {0xEF000003, 0xE12FFF1E};  // svc #3; bx lr
    std::memcpy(memory_->Host(code, 8), words, 8);
    memory_->CodeWritten();
    cpu::ArmCpu::Result result{};
    ASSERT_TRUE(M().RunDeviceCall([&] { result = thread_->Call(code, {}); }));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("outside the platform's thunks"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find("r15="), std::string::npos) << "a register dump";
    // The thread's CPU runs on.
    EXPECT_EQ(CallPlatform(F::kGetSystemDefaultLangID, {}), 1033u);
}

TEST_F(PlatformThunksTest, APlatformCallWhileFlashAnswersStatusEndsTheThread) {
    // The platform runs from flash: with a chip in read-status mode it cannot be called.
    const uint32_t flashWord = kFlashStart + 0x40000;
    M().Bus().Write32(flashWord, 0x00700070);
    cpu::ArmCpu::Result result{};
    ASSERT_TRUE(M().RunDeviceCall([&] { result = thread_->Call(ThunkAddress(F::kSleep), {1}); }));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("Sleep called while a flash chip is out of read-array mode"), std::string::npos)
        << result.error;
    EXPECT_EQ(M().Bus().GuestErrors().Count(hw::GuestErrorKind::kGuestCode), 1u);
    M().Bus().Write32(flashWord, 0x00FF00FF);
    EXPECT_EQ(CallPlatform(F::kGetSystemDefaultLangID, {}), 1033u) << "back in read-array mode";
}

}  // namespace
}  // namespace tova::arm
