// Where the handheld's link server listens: "host:port" with an IPv4 address or
// "localhost" and a port from 1 to 65535.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace rapi {

struct Address {
    uint32_t host = 0;  // a.b.c.d as (a << 24) | (b << 16) | (c << 8) | d
    uint16_t port = 0;
};

std::optional<Address> ParseEndpoint(const std::string& text);

}  // namespace rapi
