// The persistent state of one emulated device: what the bridge firmware keeps across power
// cycles (identity, medium layout) and what it keeps while powered (open state, pending unit
// attention), plus the faults a test planned. Stored as a small text file of "key: value" lines.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/sectors.h"
#include "sim/bridge/auth_session.h"
#include "sim/bridge/fault_plan.h"
#include "sim/bridge/wrap_session.h"

namespace kvx::sim {

enum class Media { kHdd, kFlash };
enum class Bus { kUsb, kAtapi };
enum class Wrap { kNone, kScramble, kAes };

struct BridgeState {
    // Identity. The CD unit answers INQUIRY with vendor/product, the secure unit with
    // secVendor/secProduct; both share revision, USB ids, capability and chip code.
    std::string vendor = "KVXSIM";
    std::string product = "VIRTUAL CD";
    std::string secVendor = "KVXSIM";
    std::string secProduct = "VIRTUAL DISK";
    std::string revision = "1.00";
    std::uint16_t vid = 0x1209;
    std::uint16_t pid = 0x0001;
    std::string serial = "KVXSIM000000";  // USB serial string and ATA serial field (20 chars max)
    std::string chip = "3B11";            // four ASCII characters, INQUIRY bytes 54-57
    Media media = Media::kHdd;
    std::uint64_t sectors = 0;  // medium size in 512-byte sectors
    Bus bus = Bus::kUsb;
    bool aesEngine = false;     // extended capability bit 22; enables the hidden area
    Wrap wrap = Wrap::kNone;    // INQUIRY capability bits 26 (wrapping allowed) and 22 (AES form)
    bool wrapRequired = false;  // with wrapping offered, plain vendor commands are refused
    std::optional<std::uint32_t> inquiryCaps;  // INQUIRY bytes 48-51 as given; else from `wrap`

    // Medium layout in 512-byte sectors: the CD area the CD unit presents and the secure
    // partition area the secure unit presents.
    std::uint64_t cdStart = 0;
    std::uint64_t cdSectors = 0;
    std::uint64_t secStart = 0;
    std::uint64_t secSectors = 0;

    // Where the machine shows the device.
    char cdLetter = 'E';
    char secLetter = 'F';
    std::uint32_t usbPort = 1;      // port on its hub
    std::uint32_t usbHubDepth = 0;  // 0 = on the root hub, k = behind k external hubs

    // Power-on state.
    bool plugged = true;
    bool usbConfigured = true;
    bool passwordSet = false;  // capability bit 16
    bool secureOpen = true;    // capability bit 17: the secure unit answers
    bool attentionCd = false;  // UNIT ATTENTION pending on the CD unit
    bool attentionSecure = false;
    WrapSession session;                           // the wrapping session; a replug ends it
    std::uint8_t verifyCount = kVerifyCountStart;  // remaining login tries (0xC8 step 4)
    AuthSession auth;                              // logins; a replug ends them

    std::vector<Fault> faults;

    // Keys this build does not know, kept as they were.
    std::map<std::string, std::string> extra;
};

// A state for a new device of `sectors` sectors with the default layout: CD area from sector 16
// (16 MiB or an eighth of the medium, whichever is less), the secure partition after it up to
// 64 sectors before the end (room for the password data block and its stamp).
BridgeState DefaultState(Media media, std::uint64_t sectors);

// The smallest medium DefaultState lays out.
inline constexpr std::uint64_t kMinimumSectors = 4096;

std::string FormatState(const BridgeState& state);
// nullopt with a reason for text that does not parse.
std::optional<BridgeState> ParseState(std::string_view text, std::string* error);

// Whether the layout and identity fit together (areas inside the medium, chip code of four
// ASCII characters, letters A-Z); a reason when not.
std::optional<std::string> CheckState(const BridgeState& state);

std::string_view MediaName(Media media);
std::string_view BusName(Bus bus);
std::string_view WrapName(Wrap wrap);
std::optional<Media> ParseMedia(std::string_view text);
std::optional<Bus> ParseBus(std::string_view text);
std::optional<Wrap> ParseWrap(std::string_view text);

}  // namespace kvx::sim
