// The emulated bridge firmware of one device. Every call works on the device's files under its
// lock (state read before, written back after a change, the command logged), so programs that
// use the device one after another all see the same device.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "crypto/wipe.h"
#include "host/host.h"
#include "sim/bridge/bridge_state.h"
#include "sim/bridge/command_log.h"
#include "sim/bridge/device_dir.h"
#include "sim/bridge/fault_plan.h"
#include "sim/bridge/identity.h"
#include "sim/bridge/sense.h"

namespace kvx::sim {

std::string_view UnitName(Unit unit);

struct BridgeReply {
    bool delivered = false;  // false: the device is off the bus (or its files are unusable)
    std::uint8_t status = kStatusGood;
    std::array<std::uint8_t, 18> sense{};
    std::uint32_t transferred = 0;
};

// The side channel's final status block: byte 0 SCSI status, byte 1 = 1 when the command
// failed (CHECK CONDITION with a key other than NO SENSE or RECOVERED ERROR), byte 2 sense
// byte 2, byte 3 ASC.
inline constexpr std::size_t kHubStatusLength = 4;

// wLength values of the side channel's requests.
inline constexpr std::uint16_t kHubFirstCdbLength = 159;
inline constexpr std::uint16_t kHubPieceLength = 143;  // further CDB pieces and data-out pieces
inline constexpr std::uint16_t kHubDataInLength = 207;
inline constexpr std::uint16_t kHubFinalLength = 175;
inline constexpr std::size_t kHubDataInPiece = 64;

class Bridge {
  public:
    explicit Bridge(std::filesystem::path deviceDir);

    const DevicePaths& paths() const { return paths_; }

    // One SCSI command from the host's pass-through to a unit.
    BridgeReply Execute(Unit unit, std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data,
                        DataDirection direction);

    // One GET_DESCRIPTOR control transfer the hub driver sends to the device: a standard
    // descriptor, or a piece of a side-channel command (told apart by wLength). nullopt = the
    // device stalled the request (or is off the bus).
    std::optional<std::vector<std::uint8_t>> ControlIn(std::uint16_t value, std::uint16_t index,
                                                       std::uint16_t length);

    // The state as it is now.
    std::optional<BridgeState> State() const;
    // Changes the state under the lock.
    bool Update(const std::function<void(BridgeState&)>& change);

    // Takes one use of a fault the host side consults (hub names, volume controls).
    std::optional<Fault> TakeHostFault(FaultKind kind);
    // Logs something the host did to a unit that is not a device command (volume controls).
    void LogHostEvent(Unit unit, std::string_view what, bool ok);

    // Reads sectors of a unit as the host's storage stack would (no command is logged); false
    // when the unit is not ready or the range is outside it.
    bool ReadUnitSectors(Unit unit, std::uint64_t sector, std::span<std::uint8_t> data);

  private:
    struct HubExchange {
        int cdbPieces = 0;  // 0 = no exchange under way
        std::array<std::uint8_t, 16> cdb{};
        WipedBytes dataOut;  // the side channel's data may carry a key
        bool executed = false;
        WipedBytes dataIn;
        std::size_t dataInPos = 0;
        std::array<std::uint8_t, kHubStatusLength> status{};
    };

    void RunHubCommand(DeviceSession& session, bool& changed);

    DevicePaths paths_;
    HubExchange hub_;
};

}  // namespace kvx::sim
