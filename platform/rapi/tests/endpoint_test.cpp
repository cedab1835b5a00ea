#include "endpoint.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/rapi/rapi.h"

#ifdef _WIN32
// The Windows C library spells these differently; an empty value removes the variable.
static int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
static int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace rapi {
namespace {

struct EndpointCase {
    const char* text;
    bool valid;
    const char* address;
    uint16_t port;
};

class EndpointParsing : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(EndpointParsing, AcceptsOnlyHostAndPort) {
    const EndpointCase& c = GetParam();
    auto parsed = ParseEndpoint(c.text);
    ASSERT_EQ(parsed.has_value(), c.valid) << c.text;
    if (!c.valid) return;
    uint32_t h = parsed->host;
    std::string text = std::to_string(h >> 24) + "." + std::to_string((h >> 16) & 0xFF) + "." +
                       std::to_string((h >> 8) & 0xFF) + "." + std::to_string(h & 0xFF);
    EXPECT_EQ(text, c.address);
    EXPECT_EQ(parsed->port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Rapi, EndpointParsing,
    ::testing::Values(EndpointCase{"127.0.0.1:4990", true, "127.0.0.1", 4990},
                      EndpointCase{"localhost:65535", true, "127.0.0.1", 65535},
                      EndpointCase{"10.1.2.3:1", true, "10.1.2.3", 1},
                      EndpointCase{"127.0.0.1:0", false},
                      EndpointCase{"127.0.0.1:65536", false},
                      EndpointCase{"127.0.0.1:", false},
                      EndpointCase{":4990", false},
                      EndpointCase{"127.0.0.1", false},
                      EndpointCase{"127.0.0.1:49x0", false},
                      EndpointCase{"127.0.0.1:-1", false},
                      EndpointCase{"127.0.0.1:0004990", false},
                      EndpointCase{"no.such.host:4990", false},
                      EndpointCase{"127.0.0.256:4990", false},
                      EndpointCase{"127.0.1:4990", false},
                      EndpointCase{"127.0.0.01:4990", false},
                      EndpointCase{"127.0.0.1.5:4990", false},
                      EndpointCase{"", false}));

TEST(Endpoint, ProgramSettingWinsOverTheEnvironmentWhichWinsOverTheDefault) {
    SetEndpoint("");
    unsetenv("TOVA_RAPI");
    EXPECT_EQ(Endpoint(), kDefaultEndpoint);
    setenv("TOVA_RAPI", "127.0.0.1:5001", 1);
    EXPECT_EQ(Endpoint(), "127.0.0.1:5001");
    SetEndpoint("127.0.0.1:5002");
    EXPECT_EQ(Endpoint(), "127.0.0.1:5002");
    SetEndpoint("");
    EXPECT_EQ(Endpoint(), "127.0.0.1:5001");
    unsetenv("TOVA_RAPI");
}

TEST(Endpoint, AnUnparsableEndpointMakesInitFailAtOnce) {
    SetEndpoint("not an endpoint");
    EXPECT_EQ(CeRapiInit(), E_FAIL);
    SetEndpoint("");
}

}  // namespace
}  // namespace rapi
