#include <memory>

#include "host/host.h"
#include "host/platform_host.h"

namespace kvx {
namespace {

Host* g_override = nullptr;

Host& SelectActiveHost() {
    static std::unique_ptr<Host> environment;
    static Host* chosen = [] {
        environment = MakeEnvironmentHost(PlatformHost());
        return environment != nullptr ? environment.get() : &PlatformHost();
    }();
    return *chosen;
}

}  // namespace

Host& PlatformHost() {
    static std::unique_ptr<Host> platform = MakePlatformHost();
    return *platform;
}

Host& ActiveHost() {
    return g_override != nullptr ? *g_override : SelectActiveHost();
}

ScopedHostOverride::ScopedHostOverride(Host& host) : previous_(g_override) {
    g_override = &host;
}

ScopedHostOverride::~ScopedHostOverride() {
    g_override = previous_;
}

}  // namespace kvx
