// A host whose device side is a script: every pass-through and hub request is recorded, and a
// test supplies the answers. For conversations at the byte level.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "support/test_host.h"

namespace kvx::test {

struct SentCommand {
    HostHandle drive;
    std::vector<std::uint8_t> cdb;
    DataDirection direction;
    std::vector<std::uint8_t> dataOut;  // what went out (data-out commands)
    std::size_t transferLength;
};

class ScriptedHost : public TestHost {
  public:
    // Answers one command: fill `data` (data-in) and return the outcome. Default: GOOD, all moved.
    std::function<ScsiOutcome(const SentCommand&, std::span<std::uint8_t> data)> device;
    // Answers one hub request buffer in place; returns the byte count or nullopt.
    std::function<std::optional<std::size_t>(std::span<std::uint8_t> buffer)> hub;

    std::vector<SentCommand> sent;
    std::vector<std::vector<std::uint8_t>> hubRequests;
    std::vector<std::u16string> opened;
    std::vector<VolumeOp> volumeOps;
    std::uint32_t sleptMs = 0;
    bool volumeOpsSucceed = true;

    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override;
    OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                    Disposition disposition) override;
    void Close(HostHandle handle) override;
    std::optional<std::size_t> UsbHubControl(HostHandle hub, UsbControl code,
                                             std::span<const std::uint8_t> in,
                                             std::span<std::uint8_t> out) override;
    bool ControlVolume(HostHandle volume, VolumeOp op) override;
    void Sleep(std::uint32_t milliseconds) override { sleptMs += milliseconds; }

    static constexpr HostHandle kHubHandle = 0x4B1D;
};

// A CHECK CONDITION outcome with the given sense byte 2.
ScsiOutcome CheckCondition(std::uint8_t senseByte2);
// A GOOD outcome that moved `transferred` bytes.
ScsiOutcome Good(std::uint32_t transferred);

}  // namespace kvx::test
