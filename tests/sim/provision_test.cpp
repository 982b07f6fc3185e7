// Factory provisioning: the data block the emulated device starts with, checked field by field
// against the device's layout and read back through the library's own block reader; refusals;
// and the kvxsim commands that provision, show and close a device.
#include "sim/bridge/provision.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "crypto/sha256.h"
#include "host/codepage.h"
#include "security/data_block.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/medium.h"
#include "tools/kvxsim/kvxsim_cli.h"
#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The ATA serial field as the host receives it: the serial space-padded to 20 characters, each
// pair of characters swapped (ATA strings put the first character in a word's high byte).
Bytes AtaSerialField(const std::string& serial) {
    std::string padded = serial;
    padded.resize(20, ' ');
    Bytes field(20);
    for (std::size_t i = 0; i < 20; i += 2) {
        field[i] = static_cast<std::uint8_t>(padded[i + 1]);
        field[i + 1] = static_cast<std::uint8_t>(padded[i]);
    }
    return field;
}

Bytes Digest(const Bytes& secret) {
    Bytes d(32);
    EXPECT_TRUE(HashSecret(secret, d.data(), nullptr, false));
    return d;
}

Bytes Cp1252(std::u16string_view text) {
    const std::string s = ToCp1252(text);
    return Bytes(s.begin(), s.end());
}

Bytes Field(std::span<const std::uint8_t> block, std::size_t at, std::size_t n) {
    return Bytes(block.begin() + static_cast<std::ptrdiff_t>(at),
                 block.begin() + static_cast<std::ptrdiff_t>(at + n));
}

struct Layout {
    sim::Media media;
    bool aes;
};

class Provisioned : public ::testing::TestWithParam<Layout> {};

TEST_P(Provisioned, TheBlockCarriesTheLayoutDigestsAndHintInTheStoredForm) {
    const Layout layout = GetParam();
    SimMachine machine;
    machine.AddDevice([&](sim::BridgeState& s) { s.aesEngine = layout.aes; }, layout.media, 48);
    const std::u16string password = u"Z\u00fcrich-42";
    const std::u16string hint = u"Stadt am See, \u20ac und \u00e9";  // euro sign and e acute
    ASSERT_FALSE(sim::Provision(machine.dir(), 0, password, hint).has_value());

    const sim::BridgeState s = machine.State();
    EXPECT_TRUE(s.passwordSet);
    EXPECT_FALSE(s.secureOpen);
    EXPECT_EQ(s.verifyCount, sim::kVerifyCountStart);

    // The region as the library reads it: at total-10 (flash) or total-40 (6 sectors), in the
    // hidden area with the engine, deciphered under the serial field or the zero key.
    const bool hdd = layout.media == sim::Media::kHdd;
    const std::uint64_t start = s.sectors - (hdd ? 40 : 10);
    const std::uint32_t sectors = hdd ? 6 : 10;
    const sim::DevicePaths paths = machine.Device();
    Bytes stored(sectors * 512);
    ASSERT_TRUE(sim::ReadSectors(layout.aes ? paths.hidden : paths.medium, start, stored));
    if (layout.aes) {
        Bytes onMedium(sectors * 512, 0xEE);
        ASSERT_TRUE(sim::ReadSectors(paths.medium, start, onMedium));
        EXPECT_TRUE(std::all_of(onMedium.begin(), onMedium.end(), [](auto b) { return b == 0; }))
            << "the medium keeps no copy of the region";
    }
    std::array<std::uint8_t, 16> key{};
    const Bytes serialField = AtaSerialField(s.serial);
    if (hdd) {
        std::copy_n(serialField.begin(), 16, key.begin());
    }
    Bytes plain = stored;
    ProtectRegion(plain, key, 1);
    const auto index = FindSignature(plain);
    ASSERT_TRUE(index.has_value());
    // No other sector of the region carries the signature: the rest is filler.
    EXPECT_FALSE(FindSignature(std::span(plain).subspan((*index + 1) * 512)).has_value());
    EXPECT_NE(plain, stored);  // stored enciphered

    const std::span<const std::uint8_t> b = std::span(plain).subspan(*index * 512, 512);
    EXPECT_EQ(ReadBe32(b, 10), s.cdSectors / 4);
    const std::uint32_t cdBlocks = static_cast<std::uint32_t>(s.cdSectors / 4);
    EXPECT_EQ(ReadBe16(b, 14), cdBlocks / 4500);
    EXPECT_EQ(b[16], cdBlocks % 4500 / 75);
    EXPECT_EQ(b[17], cdBlocks % 75);
    EXPECT_EQ(ReadBe32(b, 18), s.secSectors);
    // Hard disks: the host lays the master boot record 16 sectors past this field, at the start
    // of the secure area.
    EXPECT_EQ(ReadBe32(b, 22), s.media == sim::Media::kHdd ? s.secStart - 16 : s.secStart);
    const std::uint32_t hiddenBase = ReadBe32(b, 30);
    EXPECT_EQ(hiddenBase, s.secStart + s.secSectors);
    EXPECT_EQ(ReadBe32(b, 26), start - hiddenBase);  // the hidden-area space ends at the region
    EXPECT_EQ(b[34], 0xB6);
    EXPECT_EQ(b[35], 0xC3);
    EXPECT_EQ(Field(b, 36, 32), Digest(Cp1252(password)));
    if (hdd) {
        EXPECT_EQ(b[68], 0xB6);
        EXPECT_EQ(b[69], 0xC3);
        EXPECT_EQ(Field(b, 70, 32), Digest(serialField));
    } else {
        EXPECT_EQ(Field(b, 68, 34), Bytes(34, 0));
    }
    const Bytes hintBytes = Cp1252(hint);
    ASSERT_EQ(b[106], hintBytes.size());
    Bytes unscrambled(hintBytes.size());
    UnscrambleHint(b.subspan(108, hintBytes.size()), b[107], unscrambled);
    EXPECT_EQ(unscrambled, hintBytes);
    EXPECT_EQ(Field(b, 108 + hintBytes.size(), 150 - hintBytes.size()),
              Bytes(150 - hintBytes.size(), 0));
    const bool unlock = hdd || layout.aes;
    EXPECT_EQ(Field(b, 302, 16) != Bytes(16, 0), unlock);
}

INSTANTIATE_TEST_SUITE_P(Media, Provisioned,
                         ::testing::Values(Layout{sim::Media::kHdd, false},
                                           Layout{sim::Media::kHdd, true},
                                           Layout{sim::Media::kFlash, false},
                                           Layout{sim::Media::kFlash, true}));

TEST(Provision, AnEmptyPasswordLeavesProtectionOff) {
    SimMachine machine;
    machine.AddDevice({}, sim::Media::kHdd, 48);
    ASSERT_FALSE(sim::Provision(machine.dir(), 0, u"", u"").has_value());
    const sim::BridgeState s = machine.State();
    EXPECT_FALSE(s.passwordSet);
    EXPECT_TRUE(s.secureOpen);
    const auto region = sim::LoadBlockRegion(s, machine.Device());
    ASSERT_TRUE(region && region->index);
    EXPECT_EQ(Field(region->Block(), 34, 68), Bytes(68, 0));  // neither digest
    EXPECT_EQ(region->Block()[106], 0);
}

TEST(Provision, RefusesWhatNoFactoryCouldStore) {
    struct Case {
        const char* what;
        std::u16string password;
        std::u16string hint;
        std::function<void(sim::BridgeState&)> change;
    };
    const Case cases[] = {
        {"password over ten characters", u"12345678901", u"", {}},
        {"hint over 150 bytes", u"pw", std::u16string(151, u'h'), {}},
        {"hint without password", u"", u"hint", {}},
        {"medium over 2^32 sectors", u"pw", u"",
         [](sim::BridgeState& s) { s.sectors = (std::uint64_t{1} << 32) + 2048; }},
        {"secure partition into the region", u"pw", u"",
         [](sim::BridgeState& s) { s.secSectors = s.sectors - s.secStart - 20; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimMachine machine;
        machine.AddDevice(c.change, sim::Media::kHdd, 48);
        const sim::BridgeState before = machine.State();
        EXPECT_TRUE(sim::Provision(machine.dir(), 0, c.password, c.hint).has_value());
        const sim::BridgeState after = machine.State();
        EXPECT_EQ(after.passwordSet, before.passwordSet);
        const auto region = sim::LoadBlockRegion(after, machine.Device());
        ASSERT_TRUE(region.has_value());
        EXPECT_EQ(Bytes(region->plain.begin(), region->plain.end()), [&] {  // never written
            Bytes zero(region->plain.size(), 0);
            sim::DecipherRegion(zero, sim::BlockRegionKey(after));
            return zero;
        }());
    }
    // 150 bytes in Windows-1252 is the limit, whatever the characters.
    SimMachine machine;
    machine.AddDevice({}, sim::Media::kFlash, 48);
    EXPECT_FALSE(sim::Provision(machine.dir(), 0, u"pw", std::u16string(150, u'\u00e9')));
}

// --- kvxsim ------------------------------------------------------------------------------------

TEST(KvxsimProvision, CreateWithAPasswordProvisionsAndInfoShowsTheState) {
    const ScratchDir dir;
    const std::string d = (dir.path() / "m").string();
    // UTF-8 on the command line; stored in Windows-1252.
    const CliResult made = Cli({"create", d, "--media", "flash", "--size-mb", "32", "--password",
                                "Gr\xc3\xbc\xc3\x9f"
                                "e-1",
                                "--hint", "caf\xc3\xa9"});
    ASSERT_EQ(made.code, 0) << made.err;
    const auto machine = sim::MachinePath(d);
    const sim::BridgeState s =
        *sim::LoadDeviceState(sim::DevicePaths(sim::DeviceDirectory(machine, 0)));
    const auto region = sim::LoadBlockRegion(s, sim::DevicePaths(sim::DeviceDirectory(machine, 0)));
    ASSERT_TRUE(region && region->index);
    const auto block = region->Block();
    EXPECT_EQ(Field(block, 36, 32), Digest({'G', 'r', 0xFC, 0xDF, 'e', '-', '1'}));
    ASSERT_EQ(block[106], 4);
    Bytes hint(4);
    UnscrambleHint(block.subspan(108, 4), block[107], hint);
    EXPECT_EQ(hint, (Bytes{'c', 'a', 'f', 0xE9}));

    auto info = KeyValues(Cli({"info", d}).out);
    EXPECT_EQ(info["password_set"], "yes");
    EXPECT_EQ(info["secure_open"], "no");
    EXPECT_EQ(info["verify_count"], "5");
    EXPECT_EQ(info["password_stored"], "yes");
    EXPECT_EQ(info["data_block"], std::to_string(region->span.start + *region->index) + " medium");
    EXPECT_EQ(info["secure_letter_shown"], "no");

    // A device opened by hand closes again on a replug.
    ASSERT_TRUE(sim::UpdateDeviceState(sim::DevicePaths(sim::DeviceDirectory(machine, 0)),
                                       [](sim::BridgeState& st) {
                                           st.secureOpen = true;
                                           st.verifyCount = 2;
                                       }));
    EXPECT_EQ(KeyValues(Cli({"info", d}).out)["secure_open"], "yes");
    ASSERT_EQ(Cli({"replug", d}).code, 0);
    info = KeyValues(Cli({"info", d}).out);
    EXPECT_EQ(info["secure_open"], "no");
    EXPECT_EQ(info["verify_count"], "2");  // the count survives a power cycle

    // A fresh factory block: no password, count back at its start, open.
    const CliResult again = Cli({"provision", d, "--password", ""});
    ASSERT_EQ(again.code, 0) << again.err;
    info = KeyValues(Cli({"info", d}).out);
    EXPECT_EQ(info["password_set"], "no");
    EXPECT_EQ(info["password_stored"], "no");
    EXPECT_EQ(info["secure_open"], "yes");
    EXPECT_EQ(info["verify_count"], "5");
}

TEST(KvxsimProvision, WrongCommandLinesAreRefused) {
    const ScratchDir dir;
    const std::string d = (dir.path() / "m").string();
    EXPECT_EQ(Cli({"create", d, "--hint", "no password"}).code, 2);
    EXPECT_EQ(Cli({"create", d, "--password", "far-too-long-password"}).code, 1);
    ASSERT_EQ(Cli({"create", d}).code, 0);
    EXPECT_EQ(KeyValues(Cli({"info", d}).out)["data_block"], "none");
    EXPECT_EQ(Cli({"provision", d}).code, 2);
    EXPECT_EQ(Cli({"provision", d, "--password", "pw", "--hint", std::string(151, 'x')}).code, 1);
    EXPECT_EQ(KeyValues(Cli({"info", d}).out)["data_block"], "none");
}

}  // namespace
}  // namespace kvx::test
