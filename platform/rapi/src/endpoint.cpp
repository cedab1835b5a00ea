#include "endpoint.h"

#include <cstdlib>
#include <mutex>

#include "platform/rapi/rapi.h"

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

// Four decimal numbers from 0 to 255 without leading zeros, joined by dots.
std::optional<uint32_t> ParseIpv4(const std::string& text) {
    uint32_t address = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return std::nullopt;
            ++at;
        }
        size_t start = at;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3)
            value = value * 10 + uint32_t(text[at++] - '0');
        size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
        address = (address << 8) | value;
    }
    if (at != text.size()) return std::nullopt;
    return address;
}

}  // namespace

std::optional<Address> ParseEndpoint(const std::string& text) {
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
    std::optional<uint32_t> ipv4 = ParseIpv4(host);
    if (!ipv4) return std::nullopt;
    return Address{*ipv4, static_cast<uint16_t>(port)};
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
