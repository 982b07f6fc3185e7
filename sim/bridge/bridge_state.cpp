#include "sim/bridge/bridge_state.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>

namespace kvx::sim {
namespace {

// One "key: value" line of the state file and how it reads and writes a field.
struct Field {
    std::string_view key;
    std::function<std::string(const BridgeState&)> format;
    std::function<bool(BridgeState&, std::string_view)> parse;
};

template <typename T>
std::optional<T> ParseUnsigned(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    T value{};
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::string Hex4(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", v);
    return text;
}

std::optional<bool> ParseBool(std::string_view text) {
    if (text == "yes") {
        return true;
    }
    if (text == "no") {
        return false;
    }
    return std::nullopt;
}

Field Text(std::string_view key, std::string BridgeState::*member) {
    return {key, [member](const BridgeState& s) { return s.*member; },
            [member](BridgeState& s, std::string_view v) {
                s.*member = std::string(v);
                return true;
            }};
}

template <typename T>
Field Number(std::string_view key, T BridgeState::*member) {
    return {key, [member](const BridgeState& s) { return std::to_string(s.*member); },
            [member](BridgeState& s, std::string_view v) {
                const auto n = ParseUnsigned<T>(v);
                if (n) {
                    s.*member = *n;
                }
                return n.has_value();
            }};
}

Field HexWord(std::string_view key, std::uint16_t BridgeState::*member) {
    return {key, [member](const BridgeState& s) { return Hex4(s.*member); },
            [member](BridgeState& s, std::string_view v) {
                const auto n = ParseUnsigned<std::uint16_t>(v);
                if (n) {
                    s.*member = *n;
                }
                return n.has_value();
            }};
}

Field Flag(std::string_view key, bool BridgeState::*member) {
    return {key, [member](const BridgeState& s) { return std::string(s.*member ? "yes" : "no"); },
            [member](BridgeState& s, std::string_view v) {
                const auto b = ParseBool(v);
                if (b) {
                    s.*member = *b;
                }
                return b.has_value();
            }};
}

Field Letter(std::string_view key, char BridgeState::*member) {
    return {key, [member](const BridgeState& s) { return std::string(1, s.*member); },
            [member](BridgeState& s, std::string_view v) {
                if (v.size() != 1) {
                    return false;
                }
                s.*member = v[0];
                return true;
            }};
}

template <typename E>
Field Enum(std::string_view key, E BridgeState::*member, std::string_view (*name)(E),
           std::optional<E> (*parse)(std::string_view)) {
    return {key, [member, name](const BridgeState& s) { return std::string(name(s.*member)); },
            [member, parse](BridgeState& s, std::string_view v) {
                const auto e = parse(v);
                if (e) {
                    s.*member = *e;
                }
                return e.has_value();
            }};
}

Field AuthChallenge(std::string_view key, Exchange e) {
    return {
        key,
        [e](const BridgeState& s) { return FormatAuthBytes(s.auth.challenge[ExchangeIndex(e)]); },
        [e](BridgeState& s, std::string_view v) {
            const auto parsed = ParseChallengeText(v);
            if (parsed) {
                s.auth.challenge[ExchangeIndex(e)] = *parsed;
            }
            return parsed.has_value();
        }};
}

Field AuthResponse(std::string_view key, Exchange e) {
    return {
        key,
        [e](const BridgeState& s) { return FormatAuthBytes(s.auth.response[ExchangeIndex(e)]); },
        [e](BridgeState& s, std::string_view v) {
            const auto parsed = ParseResponseText(v);
            if (parsed) {
                s.auth.response[ExchangeIndex(e)] = *parsed;
            }
            return parsed.has_value();
        }};
}

const std::vector<Field>& Fields() {
    static const std::vector<Field> fields = {
        Text("vendor", &BridgeState::vendor),
        Text("product", &BridgeState::product),
        Text("sec_vendor", &BridgeState::secVendor),
        Text("sec_product", &BridgeState::secProduct),
        Text("revision", &BridgeState::revision),
        HexWord("vid", &BridgeState::vid),
        HexWord("pid", &BridgeState::pid),
        Text("serial", &BridgeState::serial),
        Text("chip", &BridgeState::chip),
        Enum<Media>("media", &BridgeState::media, MediaName, ParseMedia),
        Number("sectors", &BridgeState::sectors),
        Enum<Bus>("bus", &BridgeState::bus, BusName, ParseBus),
        Flag("aes_engine", &BridgeState::aesEngine),
        Enum<Wrap>("wrap", &BridgeState::wrap, WrapName, ParseWrap),
        Number("cd_start", &BridgeState::cdStart),
        Number("cd_sectors", &BridgeState::cdSectors),
        Number("sec_start", &BridgeState::secStart),
        Number("sec_sectors", &BridgeState::secSectors),
        Letter("cd_letter", &BridgeState::cdLetter),
        Letter("sec_letter", &BridgeState::secLetter),
        Number("usb_port", &BridgeState::usbPort),
        Number("usb_hub_depth", &BridgeState::usbHubDepth),
        Flag("plugged", &BridgeState::plugged),
        Flag("usb_configured", &BridgeState::usbConfigured),
        Flag("password_set", &BridgeState::passwordSet),
        Flag("secure_open", &BridgeState::secureOpen),
        Flag("attention_cd", &BridgeState::attentionCd),
        Flag("attention_secure", &BridgeState::attentionSecure),
        Flag("wrap_required", &BridgeState::wrapRequired),
        {"inquiry_caps",
         [](const BridgeState& s) {
             char text[12];
             std::snprintf(text, sizeof text, "0x%08x", s.inquiryCaps.value_or(0));
             return s.inquiryCaps ? std::string(text) : std::string("auto");
         },
         [](BridgeState& s, std::string_view v) {
             s.inquiryCaps = v == "auto" ? std::nullopt : ParseUnsigned<std::uint32_t>(v);
             return v == "auto" || s.inquiryCaps.has_value();
         }},
        {"session_key", [](const BridgeState& s) { return SessionHex(s.session.key); },
         [](BridgeState& s, std::string_view v) { return ParseSessionHex(v, s.session.key); }},
        {"session_counter", [](const BridgeState& s) { return std::to_string(s.session.counter); },
         [](BridgeState& s, std::string_view v) {
             const auto n = ParseUnsigned<std::uint8_t>(v);
             s.session.counter = n.value_or(0);
             return n.has_value();
         }},
        {"session_first_half",
         [](const BridgeState& s) {
             return s.session.firstHalf ? SessionHex(*s.session.firstHalf) : std::string("none");
         },
         [](BridgeState& s, std::string_view v) {
             s.session.firstHalf.reset();
             if (v == "none") {
                 return true;
             }
             std::array<std::uint8_t, 8> half{};
             if (!ParseSessionHex(v, half)) {
                 return false;
             }
             s.session.firstHalf = half;
             return true;
         }},
        Number("verify_count", &BridgeState::verifyCount),
        AuthChallenge("auth_password_challenge", Exchange::kPassword),
        AuthResponse("auth_password_response", Exchange::kPassword),
        AuthChallenge("auth_identifier_challenge", Exchange::kIdentifier),
        AuthResponse("auth_identifier_response", Exchange::kIdentifier),
        {"auth_identifier_verified",
         [](const BridgeState& s) { return std::string(s.auth.identifierVerified ? "yes" : "no"); },
         [](BridgeState& s, std::string_view v) {
             const auto b = ParseBool(v);
             s.auth.identifierVerified = b.value_or(false);
             return b.has_value();
         }},
        {"auth_unlocked",
         [](const BridgeState& s) { return std::string(s.auth.unlocked ? "yes" : "no"); },
         [](BridgeState& s, std::string_view v) {
             const auto b = ParseBool(v);
             s.auth.unlocked = b.value_or(false);
             return b.has_value();
         }},
    };
    return fields;
}

constexpr std::string_view kFaultKey = "fault";
constexpr std::string_view kFormatKey = "format";
constexpr std::string_view kFormatVersion = "1";

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

std::string_view MediaName(Media media) {
    return media == Media::kHdd ? "hdd" : "flash";
}
std::string_view BusName(Bus bus) {
    return bus == Bus::kUsb ? "usb" : "atapi";
}
std::string_view WrapName(Wrap wrap) {
    switch (wrap) {
        case Wrap::kNone:
            return "none";
        case Wrap::kScramble:
            return "scramble";
        case Wrap::kAes:
            return "aes";
    }
    return "none";
}

std::optional<Media> ParseMedia(std::string_view text) {
    if (text == "hdd") {
        return Media::kHdd;
    }
    if (text == "flash") {
        return Media::kFlash;
    }
    return std::nullopt;
}

std::optional<Bus> ParseBus(std::string_view text) {
    if (text == "usb") {
        return Bus::kUsb;
    }
    if (text == "atapi") {
        return Bus::kAtapi;
    }
    return std::nullopt;
}

std::optional<Wrap> ParseWrap(std::string_view text) {
    if (text == "none") {
        return Wrap::kNone;
    }
    if (text == "scramble") {
        return Wrap::kScramble;
    }
    if (text == "aes") {
        return Wrap::kAes;
    }
    return std::nullopt;
}

BridgeState DefaultState(Media media, std::uint64_t sectors) {
    BridgeState s;
    s.media = media;
    s.sectors = sectors;
    // The host writes the CD area from sector 16 on hard disks and from sector 0 on flash.
    s.cdStart = media == Media::kHdd ? 16 : 0;
    s.cdSectors = std::min<std::uint64_t>(32768, sectors / 8) & ~std::uint64_t{3};
    s.secStart = s.cdStart + s.cdSectors;
    s.secSectors = sectors > s.secStart + 64 ? sectors - s.secStart - 64 : 0;
    return s;
}

std::string FormatState(const BridgeState& state) {
    std::string text;
    text += std::string(kFormatKey) + ": " + std::string(kFormatVersion) + "\n";
    for (const auto& f : Fields()) {
        text += std::string(f.key) + ": " + f.format(state) + "\n";
    }
    for (const auto& fault : state.faults) {
        text += std::string(kFaultKey) + ": " + FormatFault(fault) + "\n";
    }
    for (const auto& [key, value] : state.extra) {
        text += key + ": " + value + "\n";
    }
    return text;
}

std::optional<BridgeState> ParseState(std::string_view text, std::string* error) {
    BridgeState state;
    auto fail = [error](std::string why) -> std::optional<BridgeState> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    };
    std::size_t lineNo = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        line = Trim(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return fail("line " + std::to_string(lineNo) + ": no ':'");
        }
        const std::string_view key = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (key == kFormatKey) {
            if (value != kFormatVersion) {
                return fail("unknown state format " + std::string(value));
            }
            continue;
        }
        if (key == kFaultKey) {
            const auto fault = ParseFault(value);
            if (!fault) {
                return fail("line " + std::to_string(lineNo) + ": bad fault '" +
                            std::string(value) + "'");
            }
            state.faults.push_back(*fault);
            continue;
        }
        const auto& fields = Fields();
        const auto field = std::find_if(fields.begin(), fields.end(),
                                        [key](const Field& f) { return f.key == key; });
        if (field == fields.end()) {
            state.extra[std::string(key)] = std::string(value);
            continue;
        }
        if (!field->parse(state, value)) {
            return fail("line " + std::to_string(lineNo) + ": bad value for " + std::string(key));
        }
    }
    return state;
}

std::optional<std::string> CheckState(const BridgeState& s) {
    if (s.chip.size() != 4 ||
        !std::all_of(s.chip.begin(), s.chip.end(), [](char c) { return c > 0x20 && c < 0x7F; })) {
        return "chip code must be four printable ASCII characters";
    }
    if (s.vendor.size() > 8 || s.secVendor.size() > 8) {
        return "vendor text is at most 8 characters";
    }
    if (s.product.size() > 16 || s.secProduct.size() > 16) {
        return "product text is at most 16 characters";
    }
    if (s.revision.size() > 4) {
        return "revision text is at most 4 characters";
    }
    if (s.serial.empty() || s.serial.size() > 20) {
        return "serial number is 1 to 20 characters";
    }
    if (s.sectors < kMinimumSectors) {
        return "medium too small";
    }
    if (s.cdSectors % 4 != 0 || s.cdStart + s.cdSectors > s.sectors) {
        return "CD area must be whole 2048-byte blocks inside the medium";
    }
    if (s.secStart + s.secSectors > s.sectors) {
        return "secure area outside the medium";
    }
    auto letterOk = [](char c) { return c >= 'C' && c <= 'Z'; };
    if (!letterOk(s.cdLetter) || !letterOk(s.secLetter) || s.cdLetter == s.secLetter) {
        return "drive letters must be two different letters C-Z";
    }
    if (s.usbPort < 1 || s.usbPort > 3) {
        return "USB port must be 1 to 3";
    }
    if (s.usbHubDepth > 5) {
        return "at most 5 external hubs";
    }
    return std::nullopt;
}

}  // namespace kvx::sim
