// Host selection: the environment variable KVX_SIM names an emulated machine directory, and
// then every program and the library talk to the emulated device in every build.
#include <cstdlib>
#include <memory>

#include "host/platform_host.h"
#include "sim/host/sim_host.h"

namespace kvx {

std::unique_ptr<Host> MakeEnvironmentHost(Host& platform) {
    const char* machine = std::getenv("KVX_SIM");
    if (machine == nullptr || machine[0] == '\0') {
        return nullptr;
    }
    return MakeSimHost(platform, machine);
}

}  // namespace kvx
