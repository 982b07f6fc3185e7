#include <cstdlib>
#include <memory>

#include "host/host.h"
#include "host/platform_host.h"
#include "host/sim/sim_host.h"

namespace kvx {
namespace {

Host* g_override = nullptr;

Host& SelectActiveHost() {
    static std::unique_ptr<Host> sim;
    static Host* chosen = [] {
        const char* machine = std::getenv("KVX_SIM");
        if (machine != nullptr && machine[0] != '\0') {
            sim = MakeSimHost(PlatformHost(), machine);
            return sim.get();
        }
        return &PlatformHost();
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
