// Factory of the platform's own host: the win32 backend on Windows, the linux backend on Linux,
// the posix backend elsewhere.
#pragma once

#include <memory>

#include "host/host.h"

namespace kvx {

// Defined once per platform (lib/host/win32/, lib/host/linux/ or lib/host/posix/).
std::unique_ptr<Host> MakePlatformHost();

// The host the environment asks for instead of the platform's own (an emulated machine named
// by KVX_SIM), or null. Defined by the binary's host selection, which links the emulator
// (sim/host/host_select.cpp); the library itself knows no backend but the platform's.
std::unique_ptr<Host> MakeEnvironmentHost(Host& platform);

}  // namespace kvx
