// Where the handheld's link server listens: "host:port" with an IPv4 address or
// "localhost" and a port from 1 to 65535.
#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>

namespace rapi {

std::optional<sockaddr_in> ParseEndpoint(const std::string& text);

}  // namespace rapi
