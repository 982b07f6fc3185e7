// One emulated device ready for the library: a machine with the device (provisioned as a factory
// would, unless asked otherwise), a program directory whose configuration file names the device,
// and the sim host over the machine as the active host while the fixture lives. The library's
// process-wide state is reset when the fixture is made and when it goes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/qda.h"
#include "sim/bridge/block_region.h"
#include "support/sim_machine.h"
#include "support/test_host.h"

namespace kvx::test {

struct DeviceSpec {
    sim::Media media = sim::Media::kHdd;
    std::uint64_t sizeMb = 64;
    bool aesEngine = false;
    // nullopt: the device gets no data block; empty: a block without a password.
    std::optional<std::u16string> password = std::u16string(u"Wolke7-Rot");
    std::u16string hint = u"sky and colour";
    // Applied to the device's state before it is made (and provisioned).
    std::function<void(sim::BridgeState&)> change = {};
    // Lines added to the configuration file's [VENDOR] section, e.g. "AES=YES".
    std::vector<std::string> vendorLines = {};
    // Further sections, written as they are, e.g. "[Inq_ChipNum]\nChipNum0=3B11\n".
    std::string extraConfig = {};
};

// The program name the fixture's host reports: prefix "ACME", so the configuration file is
// ACMEKVX.INI beside it.
inline constexpr char kFixtureProgram[] = "ACMELCK.EXE";
inline constexpr char kFixtureConfig[] = "ACMEKVX.INI";

class DeviceFixture {
  public:
    explicit DeviceFixture(const DeviceSpec& spec = {});
    ~DeviceFixture();
    DeviceFixture(const DeviceFixture&) = delete;
    DeviceFixture& operator=(const DeviceFixture&) = delete;

    SimMachine& machine() { return machine_; }
    const sim::DevicePaths Paths() const { return machine_.Device(0); }
    sim::BridgeState State() const { return machine_.State(0); }
    void Update(const std::function<void(sim::BridgeState&)>& change) const {
        machine_.Update(change, 0);
    }
    // The active host (the sim host over the machine).
    Host& host() { return sim_->host(); }
    // The platform below it, whose program name the library sees.
    TestHost& platform() { return platform_; }

    char cdLetter() const { return cdLetter_; }
    char secLetter() const { return secLetter_; }

    // A zeroed request for the CD unit's letter.
    QdaRequest Request() const;
    // The same with the diagnostic log switched on (LogText reads it).
    QdaRequest LoggedRequest() const;
    std::filesystem::path LogFile() const { return programDir_.path() / "kvx-log.ini"; }
    std::string LogText() const;

    std::filesystem::path ConfigFile() const { return programDir_.path() / kFixtureConfig; }
    // Writes the configuration file for the device, plus `vendorLines` and `extraConfig`.
    void WriteConfig(const std::vector<std::string>& vendorLines = {},
                     const std::string& extraConfig = {}) const;

    // The block region as the firmware reads it, and written back in its stored form (no
    // command is involved).
    sim::StoredRegion Region() const;
    void StoreRegion(std::span<const std::uint8_t> plain) const;
    // A copy of the data block (the region must hold one).
    std::vector<std::uint8_t> Block() const;
    // Raw sectors of the medium image or hidden area.
    std::vector<std::uint8_t> ReadImage(std::uint64_t lba, std::uint32_t count, bool hidden) const;
    void WriteImage(std::uint64_t lba, std::span<const std::uint8_t> data, bool hidden) const;

    // Power cycle of the device (kvxsim replug).
    void Replug() const;

    // Commands the device logged from index `from` on.
    std::vector<sim::LogEntry> Log(std::size_t from = 0) const { return machine_.Log(from); }
    std::size_t LogSize() const { return machine_.LogSize(); }

  private:
    SimMachine machine_;
    ScratchDir programDir_;
    TestHost platform_;
    std::optional<ScopedSimHost> sim_;
    char cdLetter_ = 'E';
    char secLetter_ = 'F';
};

// A copy of a field of the packed request record: the test macros bind references, which a
// packed multi-byte field cannot take.
template <typename T>
constexpr T Value(T v) {
    return v;
}

// Request field helpers.
void SetPassword(QdaRequest& request, std::u16string_view password);
void SetHint(QdaRequest& request, std::u16string_view hint);
std::u16string HintOf(const QdaRequest& request);

// Whether a command log entry is a 0xCF sector write (any form), and of which sectors.
struct SectorCommand {
    bool write = false;
    bool hidden = false;
    std::uint32_t lba = 0;
    std::uint16_t count = 0;
    bool operator==(const SectorCommand&) const = default;
};
std::optional<SectorCommand> AsSectorCommand(const sim::LogEntry& entry);
// The sector writes the device received from log index `from` on.
std::vector<SectorCommand> SectorWrites(const DeviceFixture& dev, std::size_t from);

}  // namespace kvx::test
