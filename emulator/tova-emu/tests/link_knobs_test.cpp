// `set STATE fault` with the link knobs, as the control channel of `tova-emu run` hands them
// to the actions: parsed, refused or routed to the handheld's link server.
#include <gtest/gtest.h>

#include "arguments.h"
#include "handheld_actions.h"
#include "handheld_fixture.h"
#include "platform/clock/clock.h"
#include "emulator/object_store.h"

namespace tova::link {
// Faults in a failed expectation, readable.
void PrintTo(const LinkFaults& f, std::ostream* out) {
    *out << "{pull " << f.pullCableAfterBytes << ", drop " << f.dropLinkAfterBytes << " for " << f.dropLinkMs
         << " ms, damage '" << f.damageBeforeExport << "' " << tova::ToUtf8(f.damageFile) << "}";
}
}  // namespace tova::link

namespace tova::emu {
namespace {

using link::LinkFaults;
using Words = std::vector<std::string>;

class LinkKnobs : public ::testing::Test {
protected:
    void SetUp() override { tova::SetTimeScale(0.01); }

    ActionContext Running() { return {true, handheld_.Endpoint(), &handheld_.Server()}; }
    std::string Act(const Words& words) { return RunAction(handheld_.Machine(), words, Running()); }

    link_test::Handheld handheld_;
};

// Armed before each case, so that a refused knob is seen to change nothing.
const LinkFaults kArmedBefore{.pullCableAfterBytes = 77,
                              .damageBeforeExport = "FnTOVAInfo",
                              .damageFile = u"\\Windows\\HARLIX.DLL"};

struct KnobCase {
    const char* name;
    Words args;  // after "set fault"
    std::optional<LinkFaults> armed;  // nullopt: refused as bad usage
};

class LinkKnobWords : public LinkKnobs, public ::testing::WithParamInterface<KnobCase> {};

TEST_P(LinkKnobWords, ArmTheLinkServerOrAreRefusedChangingNothing) {
    const KnobCase& c = GetParam();
    Words words{"set", "fault"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    handheld_.Server().SetFaults(kArmedBefore);
    if (c.armed) {
        EXPECT_NO_THROW(CheckAction(words));
        EXPECT_NE(Act(words).find(c.args[0]), std::string::npos);
        EXPECT_EQ(handheld_.Server().Faults(), *c.armed);
    } else {
        EXPECT_THROW(CheckAction(words), UsageError) << "refused before it reaches the handheld";
        EXPECT_THROW(Act(words), UsageError);
        EXPECT_EQ(handheld_.Server().Faults(), kArmedBefore);
    }
}

LinkFaults With(LinkFaults faults) { return faults; }

const KnobCase kKnobCases[] = {
    {"PullCable", {"pull-cable-after-bytes", "1000"},
     With({.pullCableAfterBytes = 1000, .damageBeforeExport = "FnTOVAInfo", .damageFile = u"\\Windows\\HARLIX.DLL"})},
    {"PullCableHex", {"pull-cable-after-bytes", "0x4000"},
     With({.pullCableAfterBytes = 0x4000, .damageBeforeExport = "FnTOVAInfo", .damageFile = u"\\Windows\\HARLIX.DLL"})},
    {"PullCableOff", {"pull-cable-after-bytes", "0"},
     With({.damageBeforeExport = "FnTOVAInfo", .damageFile = u"\\Windows\\HARLIX.DLL"})},
    {"PullCableNoCount", {"pull-cable-after-bytes"}, std::nullopt},
    {"PullCableWord", {"pull-cable-after-bytes", "lots"}, std::nullopt},
    {"PullCableNegative", {"pull-cable-after-bytes", "-5"}, std::nullopt},
    {"PullCableExtra", {"pull-cable-after-bytes", "5", "6"}, std::nullopt},
    {"DropLink", {"drop-link-after-bytes", "500"},
     With({.pullCableAfterBytes = 77, .dropLinkAfterBytes = 500, .damageBeforeExport = "FnTOVAInfo",
           .damageFile = u"\\Windows\\HARLIX.DLL"})},
    {"DropLinkFor", {"drop-link-after-bytes", "500", "2000"},
     With({.pullCableAfterBytes = 77, .dropLinkAfterBytes = 500, .dropLinkMs = 2000,
           .damageBeforeExport = "FnTOVAInfo", .damageFile = u"\\Windows\\HARLIX.DLL"})},
    {"DropLinkNoCount", {"drop-link-after-bytes"}, std::nullopt},
    {"DropLinkBadMs", {"drop-link-after-bytes", "500", "soon"}, std::nullopt},
    {"DropLinkMsTooLarge", {"drop-link-after-bytes", "500", "0x100000000"}, std::nullopt},
    {"DropLinkExtra", {"drop-link-after-bytes", "500", "1", "2"}, std::nullopt},
    {"Damage", {"damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"},
     With({.pullCableAfterBytes = 77, .damageBeforeExport = "IsCheckSumOk", .damageFile = u"\\Temp\\OS.nb0"})},
    {"DamageNoPath", {"damage-before-export", "IsCheckSumOk"}, std::nullopt},
    {"DamageRelativePath", {"damage-before-export", "IsCheckSumOk", "Temp\\OS.nb0"}, std::nullopt},
    {"DamageEscapingPath", {"damage-before-export", "IsCheckSumOk", "\\Temp\\..\\..\\etc"}, std::nullopt},
    {"DamageHostPath", {"damage-before-export", "IsCheckSumOk", "/tmp/OS.nb0"}, std::nullopt},
    {"DamageBlankExport", {"damage-before-export", "Is CheckSumOk", "\\Temp\\OS.nb0"}, std::nullopt},
    {"DamageEmptyExport", {"damage-before-export", "", "\\Temp\\OS.nb0"}, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(TovaEmu, LinkKnobWords, ::testing::ValuesIn(kKnobCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkKnobs, KnobsAddUpAndClearGoesWithTheMachineKnobs) {
    Act({"set", "fault", "pull-cable-after-bytes", "100"});
    Act({"set", "fault", "drop-link-after-bytes", "200", "30"});
    Act({"set", "fault", "damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"});
    Act({"set", "fault", "model-query-garbage", "3"});
    EXPECT_EQ(handheld_.Server().Faults(),
              With({.pullCableAfterBytes = 100, .dropLinkAfterBytes = 200, .dropLinkMs = 30,
                    .damageBeforeExport = "IsCheckSumOk", .damageFile = u"\\Temp\\OS.nb0"}));
    Act({"set", "fault", "clear"});
    EXPECT_FALSE(handheld_.Server().Faults().Armed());
    EXPECT_EQ(handheld_.Machine().Config().faults.modelQueryGarbageCount, 0u);
}

TEST_F(LinkKnobs, InfoListsEachArmedLinkFaultOnALineOfItsOwn) {
    EXPECT_NE(Act({"info"}).find("link faults:  none\n"), std::string::npos);
    Act({"set", "fault", "pull-cable-after-bytes", "100"});
    Act({"set", "fault", "drop-link-after-bytes", "200", "30"});
    Act({"set", "fault", "damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"});
    std::string info = Act({"info"});
    for (const char* line : {"\npull cable:   after 100 more bytes written through the link\n",
                             "\ndrop link:    after 200 more bytes written through the link, back after 30 ms\n",
                             "\ndamage:       first byte of \\Temp\\OS.nb0 just before IsCheckSumOk runs\n"}) {
        EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
    }
    EXPECT_EQ(info.find("link faults:  none"), std::string::npos);
}

struct StoppedCase {
    const char* name;
    Words words;
};

class StoppedHandheld : public LinkKnobs, public ::testing::WithParamInterface<StoppedCase> {};

TEST_P(StoppedHandheld, RefusesTheLinkKnobsAndChangesNothing) {
    MachineConfig before = handheld_.Machine().Config();
    try {
        RunAction(handheld_.Machine(), GetParam().words, ActionContext{});
        ADD_FAILURE() << "accepted on a stopped handheld";
    } catch (const UsageError& e) {
        EXPECT_NE(std::string(e.what()).find("applies to a running handheld"), std::string::npos) << e.what();
    }
    EXPECT_EQ(handheld_.Machine().Config().cableAttached, before.cableAttached);
    EXPECT_EQ(handheld_.Machine().Config().faults.modelQueryGarbageCount, before.faults.modelQueryGarbageCount);
    EXPECT_FALSE(handheld_.Server().Faults().Armed());
    std::string info = RunAction(handheld_.Machine(), {"info"}, ActionContext{});
    EXPECT_EQ(info.find("link faults"), std::string::npos) << "no link, no link faults";
}

INSTANTIATE_TEST_SUITE_P(
    TovaEmu, StoppedHandheld,
    ::testing::Values(StoppedCase{"PullCable", {"set", "fault", "pull-cable-after-bytes", "10"}},
                      StoppedCase{"DropLink", {"set", "fault", "drop-link-after-bytes", "10", "100"}},
                      StoppedCase{"Damage", {"set", "fault", "damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tova::emu
