// The CPU runs ARM code from the emulated RAM, reaches the device models through the bus
// and stops the guest, with a guest error, where the hardware would not do what the code
// asks. Code is placed with the host's view of RAM, as a module loader places it.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <vector>

#include "shared/configuration.h"
#include "emulator/cpu/arm_cpu.h"

namespace tova::cpu {
namespace {

// ARM-state encodings of the few instructions the tests run.
constexpr uint32_t kAddR0R0R1 = 0xE0800001;     // add r0, r0, r1
constexpr uint32_t kStrR1AtR0 = 0xE5801000;     // str r1, [r0]
constexpr uint32_t kLdrR0AtR0 = 0xE5900000;     // ldr r0, [r0]
constexpr uint32_t kBxLr = 0xE12FFF1E;          // bx lr
constexpr uint32_t kBxR2 = 0xE12FFF12;          // bx r2
constexpr uint32_t kMrsR0Cpsr = 0xE10F0000;     // mrs r0, cpsr
constexpr uint32_t kOrrR0C0 = 0xE38000C0;       // orr r0, r0, #0xC0
constexpr uint32_t kMsrCpsrcR0 = 0xE121F000;    // msr cpsr_c, r0
constexpr uint32_t kRevR0R0 = 0xE6BF0F30;       // rev r0, r0 (ARMv6: not on a PXA255)
constexpr uint32_t kMovR0Zero = 0xE3A00000;     // mov r0, #0
constexpr uint32_t kSvc7 = 0xEF000007;          // svc #7
constexpr uint32_t kBlxR2 = 0xE12FFF32;         // blx r2
constexpr uint32_t kPushLr = 0xE52DE004;        // push {lr}
constexpr uint32_t kPopPc = 0xE49DF004;         // pop {pc}
constexpr uint32_t kFixedCode = 0xFFFE0000;

constexpr uint32_t kCode = hw::kRamCachedWindow + 0x10000;
constexpr uint32_t kStackTop = hw::kRamCachedWindow + 0x20000;
constexpr uint32_t kFlashData = kFlashStart + 0x40000;

class ArmCpuTest : public ::testing::Test {
protected:
    void Place(uint32_t address, std::initializer_list<uint32_t> words) {
        std::vector<uint32_t> code(words);
        void* at = board_.Bus().HostPointer(address, uint32_t(code.size() * 4));
        ASSERT_NE(at, nullptr);
        std::memcpy(at, code.data(), code.size() * 4);
        cpu_.CodeChanged();
    }
    ArmCpu::Result Run(std::initializer_list<uint32_t> arguments) {
        std::vector<uint32_t> a(arguments);
        return cpu_.Call(kCode, a.data(), unsigned(a.size()), kStackTop);
    }
    uint64_t GuestCodeErrors() { return board_.Bus().GuestErrors().Count(hw::GuestErrorKind::kGuestCode); }

    hw::Board board_{kAdvancedModel};
    ArmCpu cpu_{board_};
};

TEST_F(ArmCpuTest, RunsCodeInRamAndReturnsR0) {
    Place(kCode, {kAddR0R0R1, kBxLr});
    ArmCpu::Result r = Run({40, 2});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value, 42u);
}

// The CPU keeps translated code: code the host replaces after a call must be what the next
// call runs, and a CPU that has run nothing must still see the first code placed.
TEST_F(ArmCpuTest, RunsCodeReplacedAfterACall) {
    Place(kCode, {kAddR0R0R1, kBxLr});
    ArmCpu::Result first = Run({40, 2});
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.value, 42u);
    Place(kCode, {0xE0400001, kBxLr});  // sub r0, r0, r1
    ArmCpu::Result second = Run({40, 2});
    ASSERT_TRUE(second.ok) << second.error;
    EXPECT_EQ(second.value, 38u);
}

TEST_F(ArmCpuTest, BothRamWindowsAreOneMemory) {
    // Code placed through the uncached window runs at its cached address, and a store
    // through one window is read back through the other.
    Place(kCode - hw::kRamCachedWindow + hw::kRamUncachedWindow, {kStrR1AtR0, kBxLr});
    const uint32_t word = hw::kRamCachedWindow + 0x30000;
    ASSERT_TRUE(Run({word, 0x12345678}).ok);
    uint32_t back = 0;
    std::memcpy(&back, board_.Bus().HostPointer(word - hw::kRamCachedWindow + hw::kRamUncachedWindow, 4), 4);
    EXPECT_EQ(back, 0x12345678u);
}

TEST_F(ArmCpuTest, DeviceAccessesGoToTheBusModels) {
    Place(kCode, {kStrR1AtR0, kLdrR0AtR0, kBxLr});
    ArmCpu::Result r = Run({kFlashData, 0x00700070});  // read status, then read it
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value, 0x00800080u) << "both chips ready";
    EXPECT_FALSE(board_.Flash().Activity(0).readArray);
    EXPECT_EQ(GuestCodeErrors(), 0u);
}

TEST_F(ArmCpuTest, MaskingSetsTheCpsrInterruptBits) {
    EXPECT_FALSE(cpu_.InterruptsMasked());
    Place(kCode, {kMrsR0Cpsr, kOrrR0C0, kMsrCpsrcR0, kBxLr});
    ASSERT_TRUE(Run({}).ok);
    EXPECT_TRUE(cpu_.InterruptsMasked());
}

TEST_F(ArmCpuTest, FetchingFromFlashWhileAChipAnswersStatusIsAGuestError) {
    Place(kCode, {kStrR1AtR0, kBxR2});
    for (uint32_t window : {kFlashStart, kFlashCachedStart}) {
        board_.Bus().GuestErrors().Clear();
        const uint32_t target = window + 0x40000;
        ArmCpu::Result r = Run({kFlashData, 0x00700070, target});
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("instruction fetched from flash"), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("r15="), std::string::npos) << "a register dump: " << r.error;
        EXPECT_EQ(GuestCodeErrors(), 1u);
        board_.Bus().Write32(kFlashData, 0x00FF00FF);
    }
}

TEST_F(ArmCpuTest, WritingThroughTheCachedFlashWindowIsAGuestError) {
    Place(kCode, {kStrR1AtR0, kBxLr});
    ArmCpu::Result r = Run({kFlashCachedStart + 0x40000, 0x00700070});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("cached flash window"), std::string::npos) << r.error;
    EXPECT_TRUE(board_.Flash().Activity(0).readArray) << "the command never reached the chips";
    EXPECT_EQ(GuestCodeErrors(), 1u);
}

TEST_F(ArmCpuTest, AnInstructionThePxa255LacksEndsTheCallAndTheCpuRunsOn) {
    Place(kCode, {kRevR0R0, kBxLr});
    ArmCpu::Result r = Run({1});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("undefined instruction"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("cpsr="), std::string::npos) << r.error;
    EXPECT_EQ(GuestCodeErrors(), 1u);
    Place(kCode, {kMovR0Zero, kAddR0R0R1, kBxLr});
    ArmCpu::Result next = Run({0, 5});
    ASSERT_TRUE(next.ok) << next.error;
    EXPECT_EQ(next.value, 5u);
}

TEST_F(ArmCpuTest, AJumpWhereThereIsNoCodeEndsTheCall) {
    Place(kCode, {kBxR2});
    ArmCpu::Result r = Run({0, 0, 0x10000000});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("0x10000000"), std::string::npos) << r.error;
    EXPECT_EQ(GuestCodeErrors(), 1u);
}

TEST_F(ArmCpuTest, ASupervisorCallGoesToTheHandlerAndTheGuestRunsOn) {
    // Guest code calls fixed code (svc; bx lr) and adds r1 to what the handler answered.
    cpu_.MapFixedCode(kFixedCode, {kSvc7, kBxLr});
    uint32_t seenR0 = 0, seenPc = 0;
    cpu_.SetSupervisorCallHandler([&](ArmCpu& cpu) {
        seenR0 = cpu.Register(0);
        seenPc = cpu.Register(15);
        cpu.SetRegister(0, seenR0 * 2);
    });
    Place(kCode, {kPushLr, kBlxR2, kAddR0R0R1, kPopPc});
    ArmCpu::Result r = Run({20, 2, kFixedCode});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(seenR0, 20u);
    EXPECT_EQ(seenPc, kFixedCode + 4) << "the handler sees the instruction after the svc";
    EXPECT_EQ(r.value, 42u);
    EXPECT_EQ(GuestCodeErrors(), 0u);
}

TEST_F(ArmCpuTest, ASupervisorCallWithNoHandlerIsAGuestError) {
    Place(kCode, {kSvc7, kBxLr});
    ArmCpu::Result r = Run({});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("supervisor call"), std::string::npos) << r.error;
    EXPECT_EQ(GuestCodeErrors(), 1u);
}

TEST_F(ArmCpuTest, AHandlersExceptionLeavesTheCallAndTheCpuRunsOn) {
    Place(kCode, {kSvc7, kBxLr});
    cpu_.SetSupervisorCallHandler([](ArmCpu&) { throw std::runtime_error("halted"); });
    EXPECT_THROW(Run({}), std::runtime_error);
    cpu_.SetSupervisorCallHandler([](ArmCpu& cpu) { cpu.SetRegister(0, 9); });
    ArmCpu::Result r = Run({});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value, 9u);
}

TEST_F(ArmCpuTest, EveryDeviceAccessPassesTheGateAndARefusalEndsTheCall) {
    struct CountingGate : ArmCpu::DeviceAccessGate {
        int entered = 0, left = 0;
        bool refuse = false;
        void Enter() override {
            if (refuse) throw std::runtime_error("boot ended");
            ++entered;
        }
        void Leave() override { ++left; }
    } gate;
    cpu_.SetDeviceAccessGate(&gate);
    Place(kCode, {kStrR1AtR0, kLdrR0AtR0, kBxLr});
    ArmCpu::Result r = Run({kFlashData, 0x00FF00FF});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(gate.entered, 2);
    EXPECT_EQ(gate.left, 2);
    // RAM is not a device: no gate.
    Run({kStackTop - 16, 1});
    EXPECT_EQ(gate.entered, 2);
    gate.refuse = true;
    EXPECT_THROW(Run({kFlashData, 0x00700070}), std::runtime_error);
    EXPECT_TRUE(board_.Flash().Activity(0).readArray) << "the refused write never reached the chips";
    cpu_.SetDeviceAccessGate(nullptr);
}

TEST_F(ArmCpuTest, FixedCodeCannotBeWrittenByTheGuest) {
    cpu_.MapFixedCode(kFixedCode, {kBxLr});
    Place(kCode, {kStrR1AtR0, kBxLr});
    ArmCpu::Result r = Run({kFixedCode, 0});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(GuestCodeErrors(), 1u);
}

}  // namespace
}  // namespace tova::cpu
