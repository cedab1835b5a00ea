#include "endpoint.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <mutex>

#include "rapi/rapi.h"

namespace rapi {
namespace {

std::mutex& EndpointMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::string& EndpointOverride() {
    static auto* text = new std::string;
    return *text;
}

}  // namespace

std::optional<sockaddr_in> ParseEndpoint(const std::string& text) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    std::string host = text.substr(0, colon);
    std::string portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > 5) return std::nullopt;
    unsigned long port = 0;
    for (char c : portText) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    if (host == "localhost") host = "127.0.0.1";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return std::nullopt;
    return address;
}

void SetEndpoint(const std::string& endpoint) {
    std::lock_guard lock(EndpointMutex());
    EndpointOverride() = endpoint;
}

std::string Endpoint() {
    {
        std::lock_guard lock(EndpointMutex());
        if (!EndpointOverride().empty()) return EndpointOverride();
    }
    const char* fromEnvironment = std::getenv("TOVA_RAPI");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
    return kDefaultEndpoint;
}

}  // namespace rapi
