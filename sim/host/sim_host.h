// The emulated machine's host: drive letters, volumes, registry texts and the USB hub tree of a
// machine directory, all backed by the emulated bridge. Services that have nothing to do with
// the device (profile strings, clock, code page) go to the platform host it wraps.
#pragma once

#include <memory>
#include <string>

#include "host/host.h"

namespace kvx {

// A host over the machine directory `machineDir` (a native path, as KVX_SIM gives it).
std::unique_ptr<Host> MakeSimHost(Host& platform, const std::string& machineDir);

}  // namespace kvx
