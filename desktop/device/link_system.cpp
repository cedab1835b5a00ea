#include "desktop/device/link_system.h"

#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct Installed {
    std::mutex mutex;
    LinkSystem system = RealLinkSystem();
};

// Never destroyed: connection-start threads are detached and may outlive main.
Installed& TheInstalled() {
    static auto* installed = new Installed;
    return *installed;
}

}  // namespace

LinkSystem RealLinkSystem() {
    LinkSystem system;
    system.connect = [] { return CeRapiInit(); };
    system.startThread = [](std::function<void()> body) {
        try {
            std::thread(std::move(body)).detach();
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    };
    system.watchdogPause = [](std::chrono::nanoseconds pause) {
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
        return true;
    };
    return system;
}

void UseLinkSystem(LinkSystem system) {
    Installed& installed = TheInstalled();
    std::lock_guard lock(installed.mutex);
    installed.system = std::move(system);
}

LinkSystem CurrentLinkSystem() {
    Installed& installed = TheInstalled();
    std::lock_guard lock(installed.mutex);
    return installed.system;
}
