#include "transport/dispatcher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "crypto/wipe.h"
#include "frame/os_type.h"
#include "host/text.h"
#include "transport/hub_channel.h"
#include "transport/wrapping.h"

namespace kvx {
namespace {

constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kSenseNoSense = 0x0;
constexpr std::uint8_t kSenseRecovered = 0x1;
constexpr std::uint8_t kSenseUnitAttention = 0x6;
// The bridge always moves at least this many bytes of an ATAPI-form vendor command.
constexpr std::uint32_t kAtapiMinimumTransfer = 6;
// A failed hub exchange is restarted at most this many times.
constexpr int kHubRestarts = 2;

std::uint8_t SenseKey(const ScsiOutcome& outcome) {
    return outcome.sense[2] & 0x0F;
}

// A command that never reached the device, and why.
CommandOutcome NotSent(std::uint32_t osError) {
    CommandOutcome outcome;
    outcome.answer.osError = osError;
    return outcome;
}

CommandOutcome FromDevice(const ScsiOutcome& answer, std::uint32_t delivered) {
    return {answer, delivered, answer.sent && !DeviceReportedFailure(answer)};
}

}  // namespace

bool DeviceReportedFailure(const ScsiOutcome& outcome) {
    if (outcome.scsiStatus == kStatusGood) {
        return false;
    }
    if (outcome.scsiStatus != kStatusCheckCondition) {
        return true;
    }
    const std::uint8_t key = SenseKey(outcome);
    return key != kSenseNoSense && key != kSenseRecovered;
}

bool IsUnitAttention(const ScsiOutcome& outcome) {
    return outcome.scsiStatus == kStatusCheckCondition && SenseKey(outcome) == kSenseUnitAttention;
}

CommandOutcome SendCdb(DeviceState& state, const CommandTarget& target, const std::uint8_t* cdb,
                       std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                       std::uint8_t direction) {
    const std::optional<DataDirection> dir = ToDataDirection(direction);
    if (!dir) {
        return NotSent(kErrorInvalidParameter);
    }
    return DispatchCdb(state, target, cdb, cdbLength, data, dataLength, *dir);
}

CommandOutcome DispatchCdb(DeviceState& state, const CommandTarget& target, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                           DataDirection direction) {
    if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength ||
        (data == nullptr && dataLength != 0)) {
        return NotSent(kErrorInvalidParameter);
    }
    if (direction == DataDirection::kIn && data != nullptr) {
        std::memset(data, 0, dataLength);
    }
    // The CDB is rewritten in a copy, never in the caller's buffer.
    std::array<std::uint8_t, kMaxCdbLength> block{};
    std::memcpy(block.data(), cdb, cdbLength);

    // The hub side channel carries the command as it is: no rewrite, no wrapping.
    if (state.hubMode == kHubModeOn) {
        return SendViaHubPort(state, block.data(), data, dataLength, direction);
    }
    std::uint32_t returnLength = 0;
    std::uint32_t transferLength = dataLength;
    if (state.atapiRewrite == kAtapiRewriteOn && block[0] == kVendorOpcode) {
        const std::uint8_t subCommand = block[1];
        block[0] = kAtapiVendorOpcode;
        block[1] = 0;
        block[9] = subCommand;
        if (dataLength > 0 && dataLength < kAtapiMinimumTransfer) {
            returnLength = dataLength;
            transferLength = kAtapiMinimumTransfer;
        }
    }
    if (block[0] == kVendorOpcode &&
        (state.wrapMode == kWrapAes || state.wrapMode == kWrapScrambled)) {
        return SendWrapped(state, target, block.data(), cdbLength, data, dataLength, direction);
    }
    return ExecutePassThrough(state, target, block.data(), cdbLength, data, transferLength,
                              returnLength, direction);
}

CommandOutcome ExecutePassThrough(const DeviceState& state, const CommandTarget& target,
                                  const std::uint8_t* cdb, std::uint8_t cdbLength,
                                  std::uint8_t* data, std::uint32_t dataLength,
                                  std::uint32_t returnLength, DataDirection direction) {
    // Only the NT family has a transport in this build; anything else fails unsent.
    if (target.osType != kOsNt5OrLater || target.drive == kInvalidHandle) {
        return NotSent(kErrorInvalidHandle);
    }
    if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength) {
        return NotSent(kErrorInvalidParameter);
    }
    const std::uint32_t callerLength =
        returnLength != 0 ? std::min(returnLength, dataLength) : dataLength;
    if (data == nullptr && callerLength != 0) {
        return NotSent(kErrorInvalidParameter);
    }
    // The transfer runs in a buffer of its own: the device may be told more than the caller holds.
    // It may carry a key or a session answer, so it is wiped when it goes.
    WipedBytes transfer(direction == DataDirection::kNone ? 0 : dataLength, 0);
    if (direction == DataDirection::kOut && callerLength != 0) {
        std::memcpy(transfer.data(), data, callerLength);
    }
    ScsiCommand command;
    command.cdb = std::span<const std::uint8_t>(cdb, cdbLength);
    command.data = transfer;
    command.direction = direction;

    Host& host = state.host();
    ScsiOutcome answer = host.ScsiPassThrough(target.drive, command);
    if (answer.sent && IsUnitAttention(answer)) {
        // The device reports a change once (a replug); the repeated command decides.
        std::fill(transfer.begin(), transfer.end(), 0);
        if (direction == DataDirection::kOut && callerLength != 0) {
            std::memcpy(transfer.data(), data, callerLength);
        }
        answer = host.ScsiPassThrough(target.drive, command);
    }
    std::uint32_t delivered = 0;
    if (direction == DataDirection::kIn && callerLength != 0) {
        const std::size_t filled = std::min<std::size_t>(answer.transferred, callerLength);
        std::memcpy(data, transfer.data(), filled);
        std::memset(data + filled, 0, callerLength - filled);
        delivered = static_cast<std::uint32_t>(filled);
    }
    return FromDevice(answer, delivered);
}

namespace {

// One full exchange over the hub; nullopt when a request failed (the exchange may be restarted).
std::optional<bool> HubExchange(Host& host, HostHandle hub,
                                const std::vector<std::vector<std::uint8_t>>& sequence,
                                std::uint8_t* data, std::uint32_t dataLength, bool dataIn) {
    std::uint32_t stored = 0;
    WipedBytes answer;
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const std::vector<std::uint8_t>& request = sequence[i];
        answer.assign(request.begin(), request.end());
        const std::optional<std::size_t> returned =
            host.UsbHubControl(hub, kUsbGetDescriptorFromNodeConnection, request, answer);
        if (!returned || *returned < kHubRequestHeader || *returned > answer.size()) {
            return std::nullopt;
        }
        const std::size_t got = *returned - kHubRequestHeader;
        const bool last = i + 1 == sequence.size();
        if (dataIn && !last && i >= kHubCdbPieces && data != nullptr) {
            const std::size_t want = std::min<std::size_t>(kHubDataInPiece, dataLength - stored);
            const std::size_t take = std::min(want, got);
            std::memcpy(data + stored, answer.data() + kHubRequestHeader, take);
            stored += static_cast<std::uint32_t>(want);
        }
        if (last) {
            // Status bytes stay local; the second one is 1 when the device failed the command.
            std::array<std::uint8_t, 4> status{};
            if (got < 2) {
                return std::nullopt;
            }
            std::memcpy(status.data(), answer.data() + kHubRequestHeader,
                        std::min<std::size_t>(got, status.size()));
            return status[1] != 1;
        }
    }
    return std::nullopt;
}

}  // namespace

CommandOutcome SendViaHubPort(const DeviceState& state, const std::uint8_t* cdb16,
                              std::uint8_t* data, std::uint32_t dataLength,
                              DataDirection direction) {
    const UsbDeviceRecord* record = state.current;
    if (record == nullptr) {
        return NotSent(kErrorInvalidHandle);
    }
    if (cdb16 == nullptr || (data == nullptr && dataLength != 0)) {
        return NotSent(kErrorInvalidParameter);
    }
    const std::size_t pathLength = ::strnlen(record->hubDevicePath, sizeof record->hubDevicePath);
    const std::u16string path = FromUtf8(std::string_view(record->hubDevicePath, pathLength));
    Host& host = state.host();
    const OpenResult hub = host.Open(path, kAccessWrite, kShareWrite);
    if (hub.handle == kInvalidHandle) {
        return NotSent(hub.osError);
    }
    const std::span<const std::uint8_t> outData =
        direction == DataDirection::kOut && data != nullptr
            ? std::span<const std::uint8_t>(data, dataLength)
            : std::span<const std::uint8_t>();
    auto sequence = BuildHubSequence(std::span<const std::uint8_t, 16>(cdb16, 16), outData,
                                     dataLength, direction, record->port);
    const bool dataIn = direction == DataDirection::kIn;
    std::optional<bool> result;
    for (int attempt = 0; attempt <= kHubRestarts && !result; ++attempt) {
        if (dataIn && data != nullptr) {
            std::memset(data, 0, dataLength);
        }
        result = HubExchange(host, hub.handle, sequence, data, dataLength, dataIn);
    }
    host.Close(hub.handle);
    // Data-out pieces carry the caller's bytes (a key, too).
    for (auto& request : sequence) {
        SecureWipe(request.data(), request.size());
    }
    if (!result) {
        return NotSent(kErrorIoDevice);  // the hub refused a request every time
    }
    CommandOutcome outcome;
    outcome.answer.sent = true;
    outcome.accepted = *result;
    outcome.delivered = outcome.accepted && dataIn ? dataLength : 0;
    outcome.answer.transferred = outcome.delivered;
    return outcome;
}

}  // namespace kvx
