// The emulated device of the harnesses that drive whole exports, and a host whose device answers
// come from the fuzz input. Data-out commands never reach the emulated device and its state file
// is restored before each input, so every input starts from the same device.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <filesystem>
#include <memory>
#include <string>

#include "host/forwarding_host.h"
#include "sim/bridge/bridge_state.h"
#include "support/sim_machine.h"
#include "support/test_host.h"

namespace kvx::fuzz {

// Each pass-through takes the next record of the input: passed to the emulated device unchanged,
// passed and then altered (data, count, status, sense), answered by the input alone, or refused
// by the system. Hub requests are answered by the device or by the input's bytes and count.
class AnsweringHost : public ForwardingHost {
  public:
    // scsi = false leaves the pass-through to the device (the hub harness).
    AnsweringHost(Host& device, FuzzedDataProvider& input, bool scsi = true)
        : ForwardingHost(device), in_(input), scsi_(scsi) {}

    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override;
    std::optional<std::size_t> UsbHubControl(HostHandle hub, UsbControl code,
                                             std::span<const std::uint8_t> request,
                                             std::span<std::uint8_t> answer) override;

  private:
    ScsiOutcome Forward(HostHandle drive, const ScsiCommand& command);
    void Alter(ScsiOutcome& outcome, const ScsiCommand& command);

    FuzzedDataProvider& in_;
    bool scsi_;
};

// A machine with one provisioned device (password "Secret42") behind the library's configuration.
struct FuzzMachine {
    // admin = false: a user who may not open the drive, the device behind an external hub and
    // the configuration allowing the hub side channel.
    FuzzMachine(sim::Media media, bool admin);
    // The device's state as it was made; the command log emptied.
    void Restore() const;

    test::SimMachine machine;
    test::ScratchDir program;
    test::TestHost platform;
    std::unique_ptr<Host> host;
    std::string state;
    std::filesystem::path statePath;
    std::filesystem::path logPath;
};

}  // namespace kvx::fuzz
