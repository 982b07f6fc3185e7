// The device state file, the fault plan texts and the machine file read back what was written
// and refuse what is malformed.
#include "sim/bridge/bridge_state.h"

#include <gtest/gtest.h>

#include "sim/machine.h"

namespace kvx::sim {
namespace {

TEST(BridgeStateText, EveryFieldSurvivesARoundTrip) {
    BridgeState s = DefaultState(Media::kFlash, 123456);
    s.vendor = "V";
    s.product = "P P";
    s.secVendor = "SV";
    s.secProduct = "SECURE  DISK";
    s.revision = "9.9";
    s.vid = 0xABCD;
    s.pid = 0x0102;
    s.serial = "S-1";
    s.chip = "7E4A";
    s.bus = Bus::kAtapi;
    s.aesEngine = true;
    s.wrap = Wrap::kScramble;
    s.cdLetter = 'K';
    s.secLetter = 'L';
    s.usbPort = 3;
    s.usbHubDepth = 2;
    s.plugged = false;
    s.usbConfigured = false;
    s.passwordSet = true;
    s.secureOpen = false;
    s.attentionCd = true;
    s.attentionSecure = true;
    s.faults.push_back(*ParseFault("fail sub:cf count=3 sense=25/24/00"));
    s.faults.push_back(*ParseFault("hub-name-length value=4000000000"));
    s.verifyCount = 3;
    s.auth.challenge[1] = Challenge{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xFF};
    s.auth.response[0] = Response{};
    s.auth.response[0]->fill(0xA5);
    s.auth.identifierVerified = true;
    s.auth.unlocked = true;
    s.extra["later_key"] = "5";

    std::string error;
    const auto back = ParseState(FormatState(s), &error);
    ASSERT_TRUE(back.has_value()) << error;
    EXPECT_EQ(FormatState(*back), FormatState(s));
    EXPECT_EQ(back->product, "P P");
    EXPECT_EQ(back->secProduct, "SECURE  DISK");
    EXPECT_EQ(back->vid, 0xABCD);
    EXPECT_EQ(back->sectors, 123456u);
    EXPECT_EQ(back->wrap, Wrap::kScramble);
    EXPECT_FALSE(back->plugged);
    ASSERT_EQ(back->faults.size(), 2u);
    EXPECT_EQ(back->faults[0].match, "sub:cf");
    EXPECT_EQ(back->faults[0].count, 3u);
    EXPECT_EQ(back->faults[0].sense[0], 0x25);
    EXPECT_EQ(back->faults[1].value, 4000000000u);
    EXPECT_EQ(back->verifyCount, 3);
    EXPECT_EQ(back->auth.challenge[1], s.auth.challenge[1]);
    EXPECT_FALSE(back->auth.challenge[0].has_value());
    EXPECT_EQ(back->auth.response[0], s.auth.response[0]);
    EXPECT_FALSE(back->auth.response[1].has_value());
    EXPECT_TRUE(back->auth.identifierVerified);
    EXPECT_TRUE(back->auth.unlocked);
    EXPECT_EQ(back->extra.at("later_key"), "5");
}

TEST(BridgeStateText, MalformedLinesAreRefused) {
    const char* bad[] = {
        "format: 2\n",
        "vid: 0x10000\n",
        "media: tape\n",
        "plugged: maybe\n",
        "sectors: -1\n",
        "cd_letter: EF\n",
        "fault: explode\n",
        "fault: fail sub:xyz\n",
        "no colon here\n",
        "fault: fail count=\n",
        "bus: scsi\n",
        "fault: fail sense=1/2\n",
        "verify_count: 256\n",
        "auth_password_challenge: 0102\n",
        "auth_unlocked: maybe\n",
        "auth_identifier_response: zz\n",
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(ParseState(text, &error).has_value()) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(BridgeStateText, FaultMatchers) {
    CommandTraits inquiry{0x12, std::nullopt, false, false};
    CommandTraits read{0x20, 0xCF, true, false};
    CommandTraits atapiCaps{0x21, 0x80, false, false};
    struct Case {
        const char* match;
        bool inquiry;
        bool read;
        bool caps;
    };
    const Case cases[] = {
        {"any", true, true, true},      {"op:12", true, false, false},
        {"op:20", false, true, false},  {"sub:80", false, false, true},
        {"sub:cf", false, true, false}, {"read", false, true, false},
        {"write", false, false, false},
    };
    for (const auto& c : cases) {
        Fault f;
        f.match = c.match;
        EXPECT_EQ(FaultMatches(f, inquiry), c.inquiry) << c.match;
        EXPECT_EQ(FaultMatches(f, read), c.read) << c.match;
        EXPECT_EQ(FaultMatches(f, atapiCaps), c.caps) << c.match;
    }
    std::vector<Fault> plan{*ParseFault("fail op:12 count=2"), *ParseFault("fail any count=1")};
    EXPECT_EQ(TakeFault(plan, FaultKind::kFail, &read)->match, "any");
    EXPECT_EQ(plan.size(), 1u);
    EXPECT_FALSE(TakeFault(plan, FaultKind::kFail, &read).has_value());
    EXPECT_FALSE(TakeFault(plan, FaultKind::kShort, &inquiry).has_value());
    EXPECT_TRUE(TakeFault(plan, FaultKind::kFail, &inquiry).has_value());
    EXPECT_TRUE(TakeFault(plan, FaultKind::kFail, &inquiry).has_value());
    EXPECT_TRUE(plan.empty());
}

TEST(BridgeStateText, CheckRefusesStatesThatDoNotFit) {
    const std::pair<const char*, std::function<void(BridgeState&)>> cases[] = {
        {"chip of three", [](BridgeState& s) { s.chip = "8A1"; }},
        {"vendor of nine", [](BridgeState& s) { s.vendor = "NINECHARS"; }},
        {"product of seventeen", [](BridgeState& s) { s.secProduct = std::string(17, 'P'); }},
        {"serial of 21", [](BridgeState& s) { s.serial = std::string(21, 'S'); }},
        {"CD area past the end", [](BridgeState& s) { s.cdSectors = s.sectors; }},
        {"odd CD area", [](BridgeState& s) { s.cdSectors = 6; }},
        {"secure area past the end", [](BridgeState& s) { s.secSectors = s.sectors; }},
        {"same letters", [](BridgeState& s) { s.secLetter = s.cdLetter; }},
        {"letter B", [](BridgeState& s) { s.cdLetter = 'B'; }},
        {"port 4", [](BridgeState& s) { s.usbPort = 4; }},
        {"tiny medium", [](BridgeState& s) { s.sectors = 100; }},
    };
    EXPECT_FALSE(CheckState(DefaultState(Media::kHdd, 131072)).has_value());
    for (const auto& [name, change] : cases) {
        BridgeState s = DefaultState(Media::kHdd, 131072);
        change(s);
        EXPECT_TRUE(CheckState(s).has_value()) << name;
    }
}

TEST(MachineText, RoundTripAndRefusals) {
    MachineConfig m;
    m.version = OsVersion{true, 2, 6, 1, 7601, 3, u"Service Pack 1"};
    m.admin = false;
    m.drives = {{'C', kDriveFixed}, {'D', kDriveCdRom}, {'Y', kDriveRemote}};
    m.foreignUsbPort = 0;
    std::string error;
    const auto back = ParseMachine(FormatMachine(m), &error);
    ASSERT_TRUE(back.has_value()) << error;
    EXPECT_EQ(FormatMachine(*back), FormatMachine(m));
    EXPECT_EQ(back->version.build, 7601u);
    EXPECT_EQ(back->version.servicePack, u"Service Pack 1");
    EXPECT_FALSE(back->admin);
    ASSERT_EQ(back->drives.size(), 3u);
    EXPECT_EQ(back->drives[2].type, kDriveRemote);
    for (const char* bad : {"windows: 10.0\n", "admin: sometimes\n", "drive: c fixed\n",
                            "drive: D floppy\n", "colour: blue\n", "usb_foreign_port: 4\n"}) {
        EXPECT_FALSE(ParseMachine(bad, &error).has_value()) << bad;
    }
}

}  // namespace
}  // namespace kvx::sim
