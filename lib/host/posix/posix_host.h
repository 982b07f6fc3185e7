// The POSIX services every non-Windows host shares: files, profile strings, code page, shared
// blocks, clock and the program's controls; it knows no device.
#pragma once

#include <memory>

#include "host/host.h"

namespace kvx {

std::unique_ptr<Host> MakePosixHost();

}  // namespace kvx
