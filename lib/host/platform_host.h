// Factory of the platform's own host: the win32 backend on Windows, the posix backend elsewhere.
#pragma once

#include <memory>

#include "host/host.h"

namespace kvx {

// Defined once per platform (lib/host/win32/ or lib/host/posix/).
std::unique_ptr<Host> MakePlatformHost();

}  // namespace kvx
