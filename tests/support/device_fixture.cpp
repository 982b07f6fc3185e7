#include "support/device_fixture.h"

#include <fstream>
#include <stdexcept>
#include <type_traits>

#include "frame/device_state.h"
#include "host/text.h"
#include "sim/bridge/commands.h"
#include "sim/bridge/device_dir.h"
#include "sim/bridge/medium.h"
#include "sim/bridge/provision.h"

namespace kvx::test {

DeviceFixture::DeviceFixture(const DeviceSpec& spec) {
    ResetDeviceState();
    machine_.AddDevice(
        [&spec](sim::BridgeState& s) {
            s.aesEngine = spec.aesEngine;
            if (spec.change) {
                spec.change(s);
            }
        },
        spec.media, spec.sizeMb);
    if (spec.password) {
        if (const auto refused = sim::Provision(machine_.dir(), 0, *spec.password, spec.hint)) {
            throw std::runtime_error("cannot provision the device: " + *refused);
        }
    }
    const sim::BridgeState state = State();
    cdLetter_ = state.cdLetter;
    secLetter_ = state.secLetter;
    platform_.moduleFileName = programDir_.File(kFixtureProgram);
    WriteConfig(spec.vendorLines, spec.extraConfig);
    sim_.emplace(machine_, platform_);
}

DeviceFixture::~DeviceFixture() {
    sim_.reset();
    ResetDeviceState();
}

void DeviceFixture::WriteConfig(const std::vector<std::string>& vendorLines,
                                const std::string& extraConfig) const {
    const sim::BridgeState s = State();
    char ids[64];
    std::snprintf(ids, sizeof ids, "VID0=%04X\r\nPID0=%04X\r\n", s.vid, s.pid);
    std::string text = "[VENDOR]\r\nVENDORSTR0=" + s.vendor + "\r\nPRODUCTSTR0=" + s.product +
                       "\r\nSECVENDORSTR0=" + s.secVendor + "\r\nSECPRODUCTSTR0=" + s.secProduct +
                       "\r\n" + ids;
    for (const auto& line : vendorLines) {
        text += line + "\r\n";
    }
    text += extraConfig;
    std::ofstream out(ConfigFile(), std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write the configuration file");
    }
}

QdaRequest DeviceFixture::Request() const {
    QdaRequest request{};
    request.driveLetter = static_cast<std::uint8_t>(cdLetter_);
    return request;
}

QdaRequest DeviceFixture::LoggedRequest() const {
    QdaRequest request = Request();
    WriteFixedUtf16(LogFile().u16string(), request.logPath,
                    std::extent_v<decltype(request.logPath)>);
    return request;
}

std::string DeviceFixture::LogText() const {
    return ReadTextFile(LogFile());
}

sim::StoredRegion DeviceFixture::Region() const {
    const sim::DevicePaths paths = Paths();
    auto session = sim::DeviceSession::Begin(paths);
    if (!session) {
        throw std::runtime_error("cannot open the device");
    }
    auto region = sim::LoadBlockRegion(session->state(), paths);
    if (!region) {
        throw std::runtime_error("cannot read the block region");
    }
    return *region;
}

void DeviceFixture::StoreRegion(std::span<const std::uint8_t> plain) const {
    const sim::DevicePaths paths = Paths();
    auto session = sim::DeviceSession::Begin(paths);
    if (!session || !sim::StoreBlockRegion(session->state(), paths, plain)) {
        throw std::runtime_error("cannot write the block region");
    }
}

std::vector<std::uint8_t> DeviceFixture::Block() const {
    sim::StoredRegion region = Region();
    if (!region.index) {
        throw std::runtime_error("the region holds no data block");
    }
    const auto block = region.Block();
    return {block.begin(), block.end()};
}

std::vector<std::uint8_t> DeviceFixture::ReadImage(std::uint64_t lba, std::uint32_t count,
                                                   bool hidden) const {
    const sim::DevicePaths paths = Paths();
    std::vector<std::uint8_t> data(std::size_t{count} * kSectorSize);
    if (!sim::ReadSectors(hidden ? paths.hidden : paths.medium, lba, data)) {
        throw std::runtime_error("cannot read the image");
    }
    return data;
}

void DeviceFixture::WriteImage(std::uint64_t lba, std::span<const std::uint8_t> data,
                               bool hidden) const {
    const sim::DevicePaths paths = Paths();
    if (!sim::WriteSectors(hidden ? paths.hidden : paths.medium, lba, data)) {
        throw std::runtime_error("cannot write the image");
    }
}

void DeviceFixture::Replug() const {
    Update([](sim::BridgeState& s) { sim::Replug(s); });
}

void SetPassword(QdaRequest& request, std::u16string_view password) {
    WriteFixedUtf16(password, request.password, std::extent_v<decltype(request.password)>);
}

void SetHint(QdaRequest& request, std::u16string_view hint) {
    WriteFixedUtf16(hint, request.hint, std::extent_v<decltype(request.hint)>);
}

std::u16string HintOf(const QdaRequest& request) {
    return ReadFixedUtf16(request.hint, std::extent_v<decltype(request.hint)>);
}

std::optional<SectorCommand> AsSectorCommand(const sim::LogEntry& entry) {
    const auto envelope = sim::VendorEnvelope(entry.cdb);
    if (!envelope || (*envelope)[1] != 0xCF) {
        return std::nullopt;
    }
    const auto& c = *envelope;
    SectorCommand s;
    s.write = (c[6] & 0x01) == 0;
    s.hidden = (c[6] & 0x02) != 0;
    s.lba = (std::uint32_t{c[2]} << 24) | (std::uint32_t{c[3]} << 16) | (std::uint32_t{c[4]} << 8) |
            c[5];
    s.count = static_cast<std::uint16_t>((c[7] << 8) | c[8]);
    return s;
}

std::vector<SectorCommand> SectorWrites(const DeviceFixture& dev, std::size_t from) {
    std::vector<SectorCommand> writes;
    for (const auto& e : dev.Log(from)) {
        const auto s = AsSectorCommand(e);
        if (s && s->write) {
            writes.push_back(*s);
        }
    }
    return writes;
}

}  // namespace kvx::test
