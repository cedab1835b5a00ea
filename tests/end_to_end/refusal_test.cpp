// Handhelds and packages that the wizard must turn away: it lists the reasons and ends, and
// the handheld's flash is untouched.
#include <ostream>

#include "end_to_end_fixture.h"

namespace e2e {
namespace {

struct Refusal {
    const char* name;
    std::vector<std::string> handheld;  // tova-emu create options
    Package package;
    int reason;  // the string the refusal page lists
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

Package WithLanguage(const char* language) {
    Package p;
    p.language = language;
    return p;
}

Package WithBuild(const char* build) {
    Package p;
    p.build = build;
    return p;
}

class Refused : public EndToEnd, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, ListsTheReasonAndWritesNothingToFlash) {
    StartHandheld(GetParam().handheld);
    std::vector<uint8_t> before = WholeFlash();
    setup_.AddPackage(GetParam().package);

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupRefused) << run.err;
    EXPECT_TRUE(Says(run, "page 136: opened"));
    EXPECT_TRUE(Says(run, TranscriptText(GetParam().reason)));
    EXPECT_TRUE(Says(run, "page 136: ended"));
    EXPECT_TRUE(NeverSays(run, "page 129"));
    EXPECT_TRUE(WholeFlash() == before) << "a refused update changed the flash";
    EXPECT_TRUE(handheld_.WaitUntilLinked()) << "the handheld did not stay up";
}

INSTANTIATE_TEST_SUITE_P(
    Handheld, Refused,
    ::testing::Values(Refusal{"AcOff", {"--ac", "off"}, {}, 114},
                      Refusal{"Battery39", {"--battery", "39"}, {}, 115},
                      Refusal{"LanguageMismatch", {}, WithLanguage("GE"), 116},
                      // The factory ROM's own build, offered again.
                      Refusal{"SameBuild", {}, WithBuild("05010100"), 118}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
