// The process-wide state of Keyport: the shared request record, library and services, and its own
// attempt counter, flags and partition refresh.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/program_session.h"

namespace kvx::keyport {

struct RefreshResult {
    bool ok = false;
    bool configMissing = false;
    std::vector<std::u16string> nodes = {};  // partition nodes of the matched disks to mount
};

class Session final : public ui::ProgramSession {
  public:
    Session(Host& host, ui::View& view, const ui::StringSource& strings);

    std::uint8_t attempts = 0;  // failed logins that the device counted; wraps at 256
    bool nonAdmin = false;
    std::uint8_t hostSystem = 0;
    std::uint8_t successTicks = 0;  // ticks of the success dialog, never reset
    // The partition refresh after a login; the host's physical drives unless a test replaces it.
    std::function<RefreshResult()> refresh;
};

}  // namespace kvx::keyport
