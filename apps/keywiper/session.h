// The process-wide state of Keywiper: the shared request record, library and services, and its
// own busy flag and event pump.
#pragma once

#include <functional>

#include "common/program_session.h"

namespace kvx::keywiper {

class Session final : public ui::ProgramSession {
  public:
    Session(Host& host, ui::View& view, const ui::StringSource& strings);

    // Set while the device works on a reset: the dialogs then ignore Cancel, their close boxes
    // and the removal of the device.
    bool busy = false;
    // Lets the view handle what is pending (draw, take input) while a long export runs; called
    // from the library's progress reports where the host has no windows of its own.
    std::function<void()> pump;

    bool ClosesOnRemoval() const override { return !busy && DeviceGone(); }
};

}  // namespace kvx::keywiper
