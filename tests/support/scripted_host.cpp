#include "support/scripted_host.h"

#include <algorithm>

namespace kvx::test {

ScsiOutcome CheckCondition(std::uint8_t senseByte2) {
    ScsiOutcome outcome;
    outcome.sent = true;
    outcome.scsiStatus = 0x02;
    outcome.sense[0] = 0x70;
    outcome.sense[2] = senseByte2;
    outcome.sense[7] = 10;
    return outcome;
}

ScsiOutcome Good(std::uint32_t transferred) {
    ScsiOutcome outcome;
    outcome.sent = true;
    outcome.transferred = transferred;
    return outcome;
}

ScsiOutcome ScriptedHost::ScsiPassThrough(HostHandle drive, const ScsiCommand& command) {
    SentCommand record{drive,
                       std::vector<std::uint8_t>(command.cdb.begin(), command.cdb.end()),
                       command.direction,
                       {},
                       command.data.size()};
    if (command.direction == DataDirection::kOut) {
        record.dataOut.assign(command.data.begin(), command.data.end());
    }
    sent.push_back(record);
    if (device) {
        return device(sent.back(), command.data);
    }
    return Good(static_cast<std::uint32_t>(command.data.size()));
}

OpenResult ScriptedHost::Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                              Disposition disposition) {
    opened.emplace_back(name);
    if (name.starts_with(u"\\\\.\\USB#")) {
        return {kHubHandle, kErrorNone};
    }
    return TestHost::Open(name, access, share, disposition);
}

void ScriptedHost::Close(HostHandle handle) {
    if (handle != kHubHandle) {
        TestHost::Close(handle);
    }
}

std::optional<std::size_t> ScriptedHost::UsbHubControl(HostHandle hubHandle, UsbControl code,
                                                       std::span<const std::uint8_t> in,
                                                       std::span<std::uint8_t> out) {
    if (hubHandle != kHubHandle || code != kUsbGetDescriptorFromNodeConnection) {
        return std::nullopt;
    }
    hubRequests.emplace_back(in.begin(), in.end());
    std::copy_n(in.begin(), std::min(in.size(), out.size()), out.begin());
    if (hub) {
        return hub(out);
    }
    return out.size();
}

bool ScriptedHost::ControlVolume(HostHandle, VolumeOp op) {
    volumeOps.push_back(op);
    return volumeOpsSucceed;
}

}  // namespace kvx::test
