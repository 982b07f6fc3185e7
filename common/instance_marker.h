// Instance markers: named 4-byte shared blocks that say "a program of this device runs". A
// program holds its own marker (value 1) for its whole run; siblings look at each other's.
#pragma once

#include <string_view>

#include "host/host.h"

namespace kvx::ui {

enum class SiblingState {
    kIdle,        // no such block, or it holds 0
    kRunning,     // it holds a non-zero value
    kUnreadable,  // it exists but cannot be read
};

class InstanceMarkers {
  public:
    explicit InstanceMarkers(Host& host) : host_(host) {}
    // Releases the own marker.
    ~InstanceMarkers();
    InstanceMarkers(const InstanceMarkers&) = delete;
    InstanceMarkers& operator=(const InstanceMarkers&) = delete;

    // Opens or creates the own marker and keeps it open. False (end without a message) when it
    // cannot be made or read, or when another instance holds it with a non-zero value. A block
    // this process created gets the value 1.
    bool ClaimOwn(std::u16string_view name);

    // Looks at a sibling's marker; the block is closed again afterwards.
    SiblingState Sibling(std::u16string_view name);

  private:
    Host& host_;
    HostHandle own_ = kInvalidHandle;
};

}  // namespace kvx::ui
