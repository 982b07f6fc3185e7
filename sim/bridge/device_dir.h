// The files of one emulated device in its directory, and the locked session through which every
// user of the device (the bridge in a program, kvxsim, a test) reads and changes its state.
//   state        BridgeState as "key: value" lines
//   medium.img   the medium, a sparse file of sectors × 512 bytes
//   hidden.img   the hidden area, a sparse file addressed like the medium
//   commands.log the command log
//   lock         held while one process works on the device
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "sim/bridge/bridge_state.h"
#include "sim/bridge/os_file.h"

namespace kvx::sim {

struct DevicePaths {
    explicit DevicePaths(std::filesystem::path directory);
    std::filesystem::path dir;
    std::filesystem::path state;
    std::filesystem::path medium;
    std::filesystem::path hidden;
    std::filesystem::path log;
    std::filesystem::path lock;
};

// Makes the directory, the sparse image files and the state file of a new device; refuses an
// existing device and a state CheckState rejects.
bool CreateDeviceFiles(const DevicePaths& paths, const BridgeState& state, std::string* error);

// Holds the device's lock from Begin to destruction, with the state as read under it.
class DeviceSession {
  public:
    // nullopt when the lock or the state file cannot be had (the reason in `error`).
    static std::optional<DeviceSession> Begin(const DevicePaths& paths,
                                              std::string* error = nullptr);

    DeviceSession(DeviceSession&& other) noexcept;
    DeviceSession& operator=(DeviceSession&&) = delete;
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;
    ~DeviceSession();

    BridgeState& state() { return state_; }
    const DevicePaths& paths() const { return *paths_; }
    // Writes the state back now (write to a side file, then rename over the old one).
    bool Save();

  private:
    DeviceSession(const DevicePaths& paths, OsFile lock, BridgeState state)
        : paths_(&paths), lock_(std::move(lock)), state_(std::move(state)) {}
    const DevicePaths* paths_;
    std::optional<OsFile> lock_;
    BridgeState state_;
};

// The state as it is now, read under the lock.
std::optional<BridgeState> LoadDeviceState(const DevicePaths& paths, std::string* error = nullptr);

// Reads, changes and writes the state under the lock; false when any step failed.
bool UpdateDeviceState(const DevicePaths& paths, const std::function<void(BridgeState&)>& change,
                       std::string* error = nullptr);

// Power cycle: the device is on the bus again, the secure unit closed when a password is set,
// UNIT ATTENTION pending on both units, no wrapping session.
void Replug(BridgeState& state);

}  // namespace kvx::sim
