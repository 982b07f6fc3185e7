// The emulated machine's USB tree and the device end of the hub side channel, driven through
// the sim host's hub controls with hand-built Windows request buffers.
#include <gtest/gtest.h>

#include <string>

#include "sim/host/usb_tree.h"
#include "host/text.h"
#include "sim/bridge/identity.h"
#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

constexpr std::uint16_t kFirst = 159;
constexpr std::uint16_t kPiece = 143;
constexpr std::uint16_t kDataIn = 207;
constexpr std::uint16_t kFinal = 175;

std::uint32_t U32(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | static_cast<std::uint32_t>(d[at + 1]) << 8 |
           static_cast<std::uint32_t>(d[at + 2]) << 16 |
           static_cast<std::uint32_t>(d[at + 3]) << 24;
}

std::u16string NameAt(std::span<const std::uint8_t> d, std::size_t at, std::size_t end) {
    std::u16string name;
    for (std::size_t i = at; i + 1 < end; i += 2) {
        const char16_t c = static_cast<char16_t>(d[i] | d[i + 1] << 8);
        if (c == 0) {
            break;
        }
        name += c;
    }
    return name;
}

class HubChannelTest : public ::testing::Test {
  protected:
    void Start(const std::function<void(sim::BridgeState&)>& change = {}) {
        machine.AddDevice(change);
        host = machine.MakeHost(PlatformHost());
    }

    // Walks from the host controller to the hub of `depth` and returns its handle.
    HostHandle OpenHub(unsigned depth = 0) {
        const auto paths = host->UsbHostControllerPaths();
        EXPECT_EQ(paths.size(), 1u);
        const OpenResult hcd = host->Open(u"\\\\.\\HCD0", kAccessWrite, kShareWrite);
        EXPECT_NE(hcd.handle, kInvalidHandle);
        std::vector<std::uint8_t> buffer(512);
        const auto n = host->UsbHubControl(hcd.handle, kUsbGetNodeInformation, {}, buffer);
        host->Close(hcd.handle);
        EXPECT_TRUE(n.has_value());
        std::u16string name = NameAt(buffer, 4, *n);
        for (unsigned d = 0; d < depth; ++d) {
            const OpenResult hub = host->Open(u"\\\\.\\" + name, kAccessWrite, kShareWrite);
            std::vector<std::uint8_t> request(512, 0);
            request[0] = sim::kChainPort;
            const auto got =
                host->UsbHubControl(hub.handle, kUsbGetNodeConnectionName, request, request);
            host->Close(hub.handle);
            EXPECT_TRUE(got.has_value());
            name = NameAt(request, 8, *got);
        }
        const OpenResult hub = host->Open(u"\\\\.\\" + name, kAccessWrite, kShareWrite);
        EXPECT_NE(hub.handle, kInvalidHandle);
        return hub.handle;
    }

    // One descriptor request; returns the data area of the answer, nullopt when it failed.
    std::optional<std::vector<std::uint8_t>> Request(HostHandle hub, std::uint32_t port,
                                                     std::uint16_t value, std::uint16_t index,
                                                     std::uint16_t length) {
        std::vector<std::uint8_t> buffer(12 + length, 0);
        buffer[0] = static_cast<std::uint8_t>(port);
        buffer[6] = static_cast<std::uint8_t>(value);
        buffer[7] = static_cast<std::uint8_t>(value >> 8);
        buffer[8] = static_cast<std::uint8_t>(index);
        buffer[9] = static_cast<std::uint8_t>(index >> 8);
        buffer[10] = static_cast<std::uint8_t>(length);
        buffer[11] = static_cast<std::uint8_t>(length >> 8);
        ++requests;
        const auto n =
            host->UsbHubControl(hub, kUsbGetDescriptorFromNodeConnection, buffer, buffer);
        if (!n) {
            return std::nullopt;
        }
        EXPECT_GE(*n, 12u);
        EXPECT_EQ(U32(buffer, 0), port);
        return std::vector<std::uint8_t>(buffer.begin() + 12,
                                         buffer.begin() + static_cast<std::ptrdiff_t>(*n));
    }

    struct Exchange {
        std::vector<std::uint8_t> dataIn;
        std::vector<std::uint8_t> status;
        bool allAnswered = true;
    };

    // A whole side-channel command: four CDB pieces, the data pieces, the final request.
    Exchange Command(HostHandle hub, std::uint32_t port, std::array<std::uint8_t, 16> cdb,
                     std::size_t dataInPieces, const std::vector<std::uint8_t>& dataOut = {}) {
        Exchange x;
        const auto word = [&cdb](std::size_t at) {
            return static_cast<std::uint16_t>(cdb[at] | cdb[at + 1] << 8);
        };
        for (std::size_t k = 0; k < 4; ++k) {
            x.allAnswered &=
                Request(hub, port, word(4 * k), word(4 * k + 2), k == 0 ? kFirst : kPiece)
                    .has_value();
        }
        for (std::size_t at = 0; at < dataOut.size(); at += 4) {
            const auto byte = [&dataOut](std::size_t i) {
                return i < dataOut.size() ? dataOut[i] : std::uint8_t{0};
            };
            x.allAnswered &=
                Request(hub, port, static_cast<std::uint16_t>(byte(at) | byte(at + 1) << 8),
                        static_cast<std::uint16_t>(byte(at + 2) | byte(at + 3) << 8), kPiece)
                    .has_value();
        }
        for (std::size_t i = 0; i < dataInPieces; ++i) {
            const auto piece = Request(hub, port, 0, 0, kDataIn);
            x.allAnswered &= piece.has_value();
            if (piece) {
                x.dataIn.insert(x.dataIn.end(), piece->begin(), piece->end());
            }
        }
        const auto status = Request(hub, port, 0, 0, kFinal);
        x.allAnswered &= status.has_value();
        x.status = status.value_or(std::vector<std::uint8_t>{});
        return x;
    }

    SimMachine machine;
    std::unique_ptr<Host> host;
    int requests = 0;
};

std::array<std::uint8_t, 16> Cdb16(const std::vector<std::uint8_t>& cdb) {
    std::array<std::uint8_t, 16> c{};
    std::copy(cdb.begin(), cdb.end(), c.begin());
    return c;
}

TEST_F(HubChannelTest, TreeReportsTheControllerRootHubAndPorts) {
    Start([](sim::BridgeState& s) {
        s.vid = 0x1A2B;
        s.pid = 0x3C4D;
    });
    const auto paths = host->UsbHostControllerPaths();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_NE(host->Open(paths[0], kAccessWrite, kShareWrite).handle, kInvalidHandle);
    EXPECT_EQ(host->Open(u"\\\\.\\HCD1", kAccessWrite, kShareWrite).osError, kErrorFileNotFound);

    const OpenResult hcd = host->Open(u"\\\\.\\HCD0", kAccessWrite, kShareWrite);
    ASSERT_NE(hcd.handle, kInvalidHandle);
    // The first ask gives the length the whole structure needs, the second the name.
    std::vector<std::uint8_t> small(6, 0xAA);
    ASSERT_EQ(host->UsbHubControl(hcd.handle, kUsbGetNodeInformation, {}, small), 6u);
    const std::u16string rootName = FromUtf8(sim::UsbTree::HubName(0));
    EXPECT_EQ(U32(small, 0), 4 + 2 * (rootName.size() + 1));
    std::vector<std::uint8_t> full(U32(small, 0));
    ASSERT_EQ(host->UsbHubControl(hcd.handle, kUsbGetNodeInformation, {}, full), full.size());
    EXPECT_EQ(NameAt(full, 4, full.size()), rootName);
    EXPECT_TRUE(NameAt(full, 4, full.size()).starts_with(u"USB#ROOT_HUB30#"));

    const OpenResult hub = host->Open(u"\\\\.\\" + rootName, kAccessWrite, kShareWrite);
    ASSERT_NE(hub.handle, kInvalidHandle);
    std::vector<std::uint8_t> node(76);
    ASSERT_EQ(host->UsbHubControl(hub.handle, kUsbGetNodeInformation, {}, node), 76u);
    EXPECT_EQ(node[6], 4);  // ports

    struct PortCase {
        std::uint32_t port;
        std::uint32_t status;
        std::uint16_t vid;
        std::uint16_t pid;
        std::uint32_t pipes;
    };
    const PortCase ports[] = {
        {1, 1, 0x1A2B, 0x3C4D, 2}, {2, 1, 0x1209, 0x4B02, 1}, {3, 0, 0, 0, 0}, {4, 0, 0, 0, 0}};
    for (const auto& p : ports) {
        std::vector<std::uint8_t> info(365, 0);
        info[0] = static_cast<std::uint8_t>(p.port);
        const auto n =
            host->UsbHubControl(hub.handle, kUsbGetNodeConnectionInformation, info, info);
        ASSERT_TRUE(n.has_value());
        EXPECT_EQ(*n, 35 + 11 * p.pipes);
        EXPECT_EQ(U32(info, 0), p.port);
        EXPECT_EQ(info[4], p.status ? 18 : 0);
        EXPECT_EQ(info[12] | info[13] << 8, p.vid);
        EXPECT_EQ(info[14] | info[15] << 8, p.pid);
        EXPECT_EQ(info[22], p.status ? 1 : 0);  // configuration
        EXPECT_EQ(info[24], 0);                 // not a hub
        EXPECT_EQ(U32(info, 27), p.pipes);
        EXPECT_EQ(U32(info, 31), p.status);
    }
    std::vector<std::uint8_t> bad(365, 0);
    bad[0] = 5;
    EXPECT_FALSE(
        host->UsbHubControl(hub.handle, kUsbGetNodeConnectionInformation, bad, bad).has_value());
}

TEST_F(HubChannelTest, DeviceAnswersStandardDescriptors) {
    Start([](sim::BridgeState& s) { s.serial = "SN0123456789XYZ"; });
    const HostHandle hub = OpenHub();
    const auto head = Request(hub, 1, 0x0200, 0, 9);
    ASSERT_TRUE(head.has_value());
    ASSERT_EQ(head->size(), 9u);
    const std::uint16_t total = static_cast<std::uint16_t>((*head)[2] | (*head)[3] << 8);
    const auto config = Request(hub, 1, 0x0200, 0, total);
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->size(), total);
    EXPECT_EQ((*config)[9 + 5], 0x08);  // mass storage interface
    EXPECT_EQ(Request(hub, 1, 0x0300, 0, 243), (std::vector<std::uint8_t>{4, 3, 0x09, 0x04}));
    const auto serial = Request(hub, 1, 0x0303, 0x0409, 243);
    ASSERT_TRUE(serial.has_value());
    EXPECT_EQ(*serial, sim::AsciiStringDescriptor("SN0123456789XYZ"));
    EXPECT_FALSE(Request(hub, 1, 0x0309, 0x0409, 243).has_value());  // no such string
    EXPECT_FALSE(Request(hub, 3, 0x0100, 0, 18).has_value());        // empty port
}

TEST_F(HubChannelTest, InquiryOfAHundredBytesTakesSevenRequests) {
    Start([](sim::BridgeState& s) { s.chip = "D3F5"; });
    const HostHandle hub = OpenHub();
    const std::size_t mark = machine.LogSize();
    requests = 0;
    const Exchange x = Command(hub, 1, Cdb16(Inquiry(100)), 2);
    EXPECT_EQ(requests, 7);
    ASSERT_TRUE(x.allAnswered);
    const auto expected = sim::InquiryData(machine.State(), sim::Unit::kCd);
    EXPECT_EQ(x.dataIn,
              std::vector<std::uint8_t>(expected.begin(), expected.end()));  // 64 + 13 bytes
    EXPECT_EQ(x.status, (std::vector<std::uint8_t>{0, 0, 0, 0}));
    const auto log = machine.Log(mark);
    ASSERT_EQ(log.size(), 8u);  // seven control requests and the command, logged as it ran
    const std::uint16_t lengths[] = {kFirst, kPiece, kPiece, kPiece, 0, kDataIn, kDataIn, kFinal};
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == 4) {
            continue;
        }
        EXPECT_EQ(log[i].via, "ctl");
        EXPECT_EQ(log[i].length, lengths[i]);
    }
    EXPECT_EQ(log[5].transferred, 64u);
    EXPECT_EQ(log[6].transferred, 13u);
    EXPECT_EQ(log[4].via, "hub");
    EXPECT_EQ(log[4].cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 100, 0}));
    EXPECT_EQ(log[4].transferred, 77u);
}

TEST_F(HubChannelTest, FinalStatusSaysFailureInItsSecondByte) {
    Start();
    const HostHandle hub = OpenHub();
    const auto tur = Cdb16({0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Command(hub, 1, tur, 0).status, (std::vector<std::uint8_t>{0, 0, 0, 0}));
    machine.Update([](sim::BridgeState& s) {
        s.faults.push_back(*sim::ParseFault("fail op:00 sense=02/04/00"));
    });
    EXPECT_EQ(Command(hub, 1, tur, 0).status, (std::vector<std::uint8_t>{2, 1, 0x02, 0x04}));
    // A recovered error is not a failure.
    machine.Update([](sim::BridgeState& s) {
        s.faults.push_back(*sim::ParseFault("fail op:00 sense=01/17/00"));
    });
    EXPECT_EQ(Command(hub, 1, tur, 0).status, (std::vector<std::uint8_t>{2, 0, 0x01, 0x17}));
    // A planned status fault says failure for a command that went well.
    machine.Update([](sim::BridgeState& s) { s.faults.push_back(*sim::ParseFault("hub-status")); });
    EXPECT_EQ(Command(hub, 1, tur, 0).status[1], 1);
    EXPECT_EQ(Command(hub, 1, tur, 0).status[1], 0);
    // After a replug the first command reports UNIT ATTENTION.
    machine.Update([](sim::BridgeState& s) { sim::Replug(s); });
    EXPECT_EQ(Command(hub, 1, tur, 0).status, (std::vector<std::uint8_t>{2, 1, 0x06, 0x29}));
}

TEST_F(HubChannelTest, SectorsGoOutFourBytesAndComeBackSixtyFourBytesAPiece) {
    Start();
    const HostHandle hub = OpenHub();
    const auto data = Pattern(512, 21);
    requests = 0;
    const Exchange write = Command(hub, 1, Cdb16(SectorCdb(300, 1, 0)), 0, data);
    EXPECT_EQ(requests, 4 + 128 + 1);
    ASSERT_TRUE(write.allAnswered);
    EXPECT_EQ(write.status[1], 0);
    auto bridge = machine.MakeBridge();
    EXPECT_EQ(Exec(*bridge, sim::Unit::kCd, SectorCdb(300, 1, 1), DataDirection::kIn, 512).data,
              data);
    const Exchange read = Command(hub, 1, Cdb16(SectorCdb(300, 1, 1)), 8);
    ASSERT_TRUE(read.allAnswered);
    EXPECT_EQ(read.dataIn, data);
    EXPECT_EQ(read.status[1], 0);
    // Too little data for the sector: refused, nothing written.
    const Exchange shortWrite = Command(hub, 1, Cdb16(SectorCdb(301, 1, 0)), 0, Pattern(40, 1));
    EXPECT_EQ(shortWrite.status, (std::vector<std::uint8_t>{2, 1, 0x05, 0x24}));
    EXPECT_EQ(Exec(*bridge, sim::Unit::kCd, SectorCdb(301, 1, 1), DataDirection::kIn, 512).data,
              std::vector<std::uint8_t>(512, 0));
}

TEST_F(HubChannelTest, PiecesOutOfOrderAreStalled) {
    Start();
    const HostHandle hub = OpenHub();
    EXPECT_FALSE(Request(hub, 1, 0, 0, kPiece).has_value());
    EXPECT_FALSE(Request(hub, 1, 0, 0, kFinal).has_value());
    ASSERT_TRUE(Request(hub, 1, 0x0012, 0x6400, kFirst).has_value());
    EXPECT_FALSE(Request(hub, 1, 0, 0, kDataIn).has_value());  // the CDB is not complete
    // A new first piece starts over.
    const Exchange x = Command(hub, 1, Cdb16(Vendor(0x80)), 1);
    ASSERT_TRUE(x.allAnswered);
    EXPECT_EQ(x.dataIn.size(), 4u);
    EXPECT_EQ(x.status[1], 0);
    // Bytes past the command's own CDB length must be zero.
    auto padded = Cdb16(Vendor(0x80));
    padded[12] = 1;
    EXPECT_EQ(Command(hub, 1, padded, 1).status, (std::vector<std::uint8_t>{2, 1, 0x05, 0x24}));
}

TEST_F(HubChannelTest, AtapiDevicesTakeThePlainVendorFormOnTheSideChannel) {
    Start([](sim::BridgeState& s) { s.bus = sim::Bus::kAtapi; });
    const HostHandle hub = OpenHub();
    const Exchange x = Command(hub, 1, Cdb16(Vendor(0x80)), 1);
    ASSERT_TRUE(x.allAnswered);
    EXPECT_EQ(x.status[1], 0);
    ASSERT_EQ(x.dataIn.size(), 4u);
    EXPECT_EQ(Le32(x.dataIn, 0), sim::CapabilityWord(machine.State()));
    // The pass-through path of the same device wants the ATAPI form.
    auto bridge = machine.MakeBridge();
    EXPECT_EQ(Exec(*bridge, sim::Unit::kCd, Vendor(0x80), DataDirection::kIn, 4).sense(),
              (std::array<std::uint8_t, 3>{0x05, 0x20, 0x00}));
}

TEST_F(HubChannelTest, DeviceBehindAnExternalHub) {
    Start([](sim::BridgeState& s) {
        s.usbHubDepth = 1;
        s.usbPort = 2;
    });
    const HostHandle root = OpenHub(0);
    std::vector<std::uint8_t> info(365, 0);
    info[0] = 4;
    ASSERT_TRUE(
        host->UsbHubControl(root, kUsbGetNodeConnectionInformation, info, info).has_value());
    EXPECT_EQ(info[24], 1);  // a hub on port 4
    EXPECT_EQ(U32(info, 31), 1u);
    info.assign(365, 0);
    info[0] = 1;
    ASSERT_TRUE(
        host->UsbHubControl(root, kUsbGetNodeConnectionInformation, info, info).has_value());
    EXPECT_EQ(U32(info, 31), 0u);  // the device is not on the root hub

    // The hub's name: first the length from a 10-byte buffer, then all of it.
    std::vector<std::uint8_t> small(10, 0);
    small[0] = 4;
    ASSERT_EQ(host->UsbHubControl(root, kUsbGetNodeConnectionName, small, small), 10u);
    EXPECT_EQ(U32(small, 0), 4u);
    const std::u16string hubName = FromUtf8(sim::UsbTree::HubName(1));
    EXPECT_EQ(U32(small, 4), 8 + 2 * (hubName.size() + 1));

    const HostHandle nested = OpenHub(1);
    info.assign(365, 0);
    info[0] = 2;
    ASSERT_TRUE(
        host->UsbHubControl(nested, kUsbGetNodeConnectionInformation, info, info).has_value());
    EXPECT_EQ(U32(info, 31), 1u);
    EXPECT_EQ(info[12] | info[13] << 8, 0x1209);
    const Exchange x = Command(nested, 2, Cdb16(Inquiry(36)), 1);
    ASSERT_TRUE(x.allAnswered);
    EXPECT_EQ(x.dataIn.size(), 36u);
    EXPECT_EQ(x.status[1], 0);
}

TEST_F(HubChannelTest, PlannedWrongLengthsReachTheScan) {
    Start();
    machine.Update([](sim::BridgeState& s) {
        s.faults.push_back(*sim::ParseFault("hub-name-length value=3"));
        s.faults.push_back(*sim::ParseFault("hub-descriptor-length count=2 value=7"));
    });
    const OpenResult hcd = host->Open(u"\\\\.\\HCD0", kAccessWrite, kShareWrite);
    std::vector<std::uint8_t> small(6, 0);
    ASSERT_TRUE(host->UsbHubControl(hcd.handle, kUsbGetNodeInformation, {}, small).has_value());
    EXPECT_EQ(U32(small, 0), 3u);
    ASSERT_TRUE(host->UsbHubControl(hcd.handle, kUsbGetNodeInformation, {}, small).has_value());
    EXPECT_EQ(U32(small, 0), 4 + 2 * (FromUtf8(sim::UsbTree::HubName(0)).size() + 1));  // used up

    const HostHandle hub = OpenHub();
    const auto config = Request(hub, 1, 0x0200, 0, 9);
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ((*config)[2], 7);  // wTotalLength as planned
    const auto serial = Request(hub, 1, 0x0303, 0x0409, 243);
    ASSERT_TRUE(serial.has_value());
    EXPECT_EQ((*serial)[0], 7);  // an odd string length
    EXPECT_EQ((*serial)[1], 3);
    EXPECT_EQ((*Request(hub, 1, 0x0303, 0x0409, 243))[0], serial->size());
}

TEST_F(HubChannelTest, UnpluggedOrUnconfiguredDevices) {
    Start();
    const HostHandle hub = OpenHub();
    machine.Update([](sim::BridgeState& s) { s.usbConfigured = false; });
    std::vector<std::uint8_t> info(365, 0);
    info[0] = 1;
    ASSERT_TRUE(host->UsbHubControl(hub, kUsbGetNodeConnectionInformation, info, info).has_value());
    EXPECT_EQ(info[22], 0);
    EXPECT_EQ(U32(info, 31), 1u);
    machine.Update([](sim::BridgeState& s) { s.plugged = false; });
    info.assign(365, 0);
    info[0] = 1;
    ASSERT_TRUE(host->UsbHubControl(hub, kUsbGetNodeConnectionInformation, info, info).has_value());
    EXPECT_EQ(U32(info, 31), 0u);
    EXPECT_FALSE(Request(hub, 1, 0x0100, 0, 18).has_value());
    EXPECT_FALSE(Request(hub, 1, 0x0012, 0x2400, kFirst).has_value());
}

}  // namespace
}  // namespace kvx::test
