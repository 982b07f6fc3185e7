#include "fuzz/fuzz_machine.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "sim/bridge/provision.h"

namespace kvx::fuzz {
namespace {

enum class Answer : std::uint8_t { kForward, kForwardAltered, kInvented, kNotSent, kMaxValue = kNotSent };

}  // namespace

ScsiOutcome AnsweringHost::ScsiPassThrough(HostHandle drive, const ScsiCommand& command) {
    if (!scsi_ || in_.remaining_bytes() == 0) {
        return Forward(drive, command);
    }
    switch (in_.ConsumeEnum<Answer>()) {
        case Answer::kForward:
            return Forward(drive, command);
        case Answer::kForwardAltered: {
            ScsiOutcome outcome = Forward(drive, command);
            Alter(outcome, command);
            return outcome;
        }
        case Answer::kInvented: {
            ScsiOutcome outcome;
            outcome.sent = true;
            Alter(outcome, command);
            return outcome;
        }
        case Answer::kNotSent: {
            ScsiOutcome outcome;
            outcome.osError = in_.ConsumeIntegral<std::uint32_t>();
            return outcome;
        }
    }
    return {};
}

std::optional<std::size_t> AnsweringHost::UsbHubControl(HostHandle hub, UsbControl code,
                                                        std::span<const std::uint8_t> request,
                                                        std::span<std::uint8_t> answer) {
    if (in_.remaining_bytes() == 0 || !in_.ConsumeBool()) {
        return ForwardingHost::UsbHubControl(hub, code, request, answer);
    }
    if (in_.ConsumeBool()) {
        return std::nullopt;
    }
    const std::vector<std::uint8_t> bytes = in_.ConsumeBytes<std::uint8_t>(answer.size());
    std::copy(bytes.begin(), bytes.end(), answer.begin());
    // A lying count, larger than the buffer, is part of what the library must survive.
    return in_.ConsumeIntegralInRange<std::size_t>(0, answer.size() + 16);
}

ScsiOutcome AnsweringHost::Forward(HostHandle drive, const ScsiCommand& command) {
    if (command.direction == DataDirection::kOut) {
        ScsiOutcome accepted;
        accepted.sent = true;
        accepted.transferred = static_cast<std::uint32_t>(command.data.size());
        return accepted;
    }
    return ForwardingHost::ScsiPassThrough(drive, command);
}

void AnsweringHost::Alter(ScsiOutcome& outcome, const ScsiCommand& command) {
    outcome.scsiStatus = in_.ConsumeIntegral<std::uint8_t>();
    const std::vector<std::uint8_t> sense = in_.ConsumeBytes<std::uint8_t>(kSenseLength);
    std::copy(sense.begin(), sense.end(), outcome.sense);
    // The count may claim more than the buffer holds: a backend's count is not to be trusted.
    outcome.transferred = in_.ConsumeIntegral<std::uint32_t>();
    if (command.direction == DataDirection::kIn) {
        const std::vector<std::uint8_t> data = in_.ConsumeBytes<std::uint8_t>(
            in_.ConsumeIntegralInRange<std::size_t>(0, command.data.size()));
        std::copy(data.begin(), data.end(), command.data.begin());
    }
}

FuzzMachine::FuzzMachine(sim::Media media, bool admin) {
    machine.AddDevice(
        [admin](sim::BridgeState& s) {
            s.aesEngine = true;
            s.wrap = sim::Wrap::kAes;
            s.wrapRequired = true;
            s.usbHubDepth = admin ? 0 : 1;
            // A small CD area keeps a CD update (which reads it all, twice) quick.
            s.cdSectors = kSectorsPerMb;
        },
        media, 64);
    if (!admin) {
        machine.SetMachine([](sim::MachineConfig& m) { m.admin = false; });
    }
    sim::Provision(machine.dir(), 0, u"Secret42", u"the usual one");
    const auto paths = machine.Device(0);
    std::ifstream in(paths.state, std::ios::binary);
    state.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    statePath = paths.state;
    logPath = paths.log;
    platform.moduleFileName = program.File("ACMELCK.EXE");
    std::ofstream(program.path() / "ACMEKVX.INI", std::ios::binary)
        << "[VENDOR]\nVENDORSTR0=KVXSIM\nPRODUCTSTR0=VIRTUAL CD\nSECVENDORSTR0=KVXSIM\n"
           "SECPRODUCTSTR0=VIRTUAL DISK\nVID0=0x1209\nPID0=0x0001\nAES=YES\nNONADMIN=YES\n"
           "[Inq_ChipNum]\nChipNum0=3B11\n";
    host = machine.MakeHost(platform);
}

void FuzzMachine::Restore() const {
    std::ofstream(statePath, std::ios::binary | std::ios::trunc) << state;
    std::ofstream(logPath, std::ios::binary | std::ios::trunc);
}

}  // namespace kvx::fuzz
