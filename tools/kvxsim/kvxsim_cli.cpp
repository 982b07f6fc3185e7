#include "tools/kvxsim/kvxsim_cli.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "host/codepage.h"
#include "host/text.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/bridge_state.h"
#include "sim/bridge/command_log.h"
#include "sim/bridge/device_dir.h"
#include "sim/bridge/aes_engine.h"
#include "sim/bridge/export.h"
#include "sim/bridge/provision.h"
#include "sim/machine.h"

namespace kvx::sim {
namespace {

constexpr std::string_view kUsage = R"(usage:
  kvxsim create DIR [options]     add a device to the machine DIR (made when missing)
      --device N                  device number (default: the lowest free one)
      --media hdd|flash           medium kind (hdd)
      --size-mb N                 medium size in MiB (64)
      --bus usb|atapi             storage bus the machine reports (usb)
      --vendor T --product T      the CD unit's INQUIRY texts
      --sec-vendor T --sec-product T   the secure unit's INQUIRY texts
      --revision T                INQUIRY revision
      --vid 0xNNNN --pid 0xNNNN   USB vendor and product id
      --chip XXXX                 chip code, INQUIRY bytes 54-57
      --serial T                  serial number (USB string 3, ATA serial)
      --aes-engine yes|no         AES engine and hidden area (no)
      --wrap none|scrambled|aes   wrapping the device offers (none; "scramble" also reads)
      --wrap-required yes|no      refuse plain vendor commands when wrapping is offered (no)
      --inquiry-caps 0xNNNNNNNN|auto   INQUIRY capability word, bytes 48-51 (auto: from --wrap)
      --cd-mb N                   size of the CD area in MiB
      --cd-letter X --sec-letter X     drive letters (E and F for device 0)
      --usb-port N --hub-depth N  place in the USB tree (port 1, on the root hub)
      --protected yes|no          password protection flag: the secure unit starts closed
      --password P [--hint H]     provision as the factory would: data block with P's digest
                                  and the hint, protection on, the device closed
      --secure-mb N               size of the secure partition in MiB (default: up to the end)
      --cd-iso FILE               CD area content; the CD size becomes the file's, in whole MiB
  kvxsim export DIR [--device N] --secure OUT | --cd OUT
                                  the plaintext the device shows: the secure partition from its
                                  master boot record to its end, or the CD area
  kvxsim provision DIR [--device N] --password P [--hint H]
                                  write a fresh factory data block (an empty P: no password);
                                  the verify count starts again
  kvxsim info DIR [--device N]    the device's state as key: value lines
  kvxsim log DIR [--device N] [--from K] [--clear]
                                  the commands the device received, numbered from 0
  kvxsim replug DIR [--device N]  power cycle: secure unit closed if protected, UNIT ATTENTION
  kvxsim unplug DIR [--device N]  take the device off the bus
  kvxsim fault DIR KIND [MATCH] [--count N] [--sense B2/ASC/ASCQ] [--value N] [--device N]
      KIND: fail short unplug-after hub-name-length hub-descriptor-length hub-status
            volume-lock volume-dismount; or "clear" to drop all planned faults
      MATCH: any op:XX sub:XX read write (for fail and short; default any)
  kvxsim machine DIR [--admin yes|no] [--windows MAJ.MIN.BUILD] [--product-type N]
                     [--service-pack T] [--drive X:TYPE]... [--usb-foreign-port N]
                                  change and show the machine's settings
)";

struct Args {
    std::string command;
    std::vector<std::string> positional;
    std::multimap<std::string, std::string> options;
    std::vector<std::string> flags;

    std::optional<std::string> Get(const std::string& name) const {
        const auto it = options.find(name);
        return it == options.end() ? std::nullopt : std::optional(it->second);
    }
    bool Has(const std::string& flag) const {
        return std::find(flags.begin(), flags.end(), flag) != flags.end();
    }
};

class UsageError {
  public:
    explicit UsageError(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

const std::vector<std::string> kFlagOptions = {"--clear"};

Args Parse(std::span<const std::string> args) {
    Args a;
    if (args.empty()) {
        throw UsageError("no command");
    }
    a.command = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.starts_with("--")) {
            if (std::find(kFlagOptions.begin(), kFlagOptions.end(), word) != kFlagOptions.end()) {
                a.flags.push_back(word);
                continue;
            }
            if (i + 1 >= args.size()) {
                throw UsageError(word + " needs a value");
            }
            a.options.emplace(word, args[++i]);
        } else {
            a.positional.push_back(word);
        }
    }
    return a;
}

template <typename T>
T Number(const std::string& option, const std::string& text) {
    std::string_view v = text;
    int base = 10;
    if (v.starts_with("0x") || v.starts_with("0X")) {
        v.remove_prefix(2);
        base = 16;
    }
    T value{};
    const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), value, base);
    if (v.empty() || ec != std::errc() || ptr != v.data() + v.size()) {
        throw UsageError(option + ": not a number: " + text);
    }
    return value;
}

bool YesNo(const std::string& option, const std::string& text) {
    if (text == "yes") {
        return true;
    }
    if (text == "no") {
        return false;
    }
    throw UsageError(option + ": yes or no");
}

char DriveLetter(const std::string& option, const std::string& text) {
    if (text.size() != 1 || text[0] < 'A' || text[0] > 'Z') {
        throw UsageError(option + ": one capital letter");
    }
    return text[0];
}

void CheckOptions(const Args& a, std::initializer_list<std::string_view> allowed,
                  std::size_t positional) {
    for (const auto& [name, value] : a.options) {
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            throw UsageError("unknown option " + name + " for " + a.command);
        }
    }
    for (const auto& flag : a.flags) {
        if (std::find(allowed.begin(), allowed.end(), flag) == allowed.end()) {
            throw UsageError("unknown option " + flag + " for " + a.command);
        }
    }
    if (a.positional.size() < 1 || a.positional.size() > positional) {
        throw UsageError(a.command + ": wrong number of arguments");
    }
}

unsigned DeviceNumber(const Args& a) {
    const auto d = a.Get("--device");
    return d ? Number<unsigned>("--device", *d) : 0;
}

// Command-line text: UTF-8 when it is well-formed UTF-8, else the ANSI code page's bytes.
std::u16string ArgumentText(const std::string& text) {
    return IsValidUtf8(text) ? FromUtf8(text) : FromCp1252(text);
}

DevicePaths Device(const Args& a) {
    return DevicePaths(DeviceDirectory(MachinePath(a.positional[0]), DeviceNumber(a)));
}

int Create(const Args& a, std::ostream& out, std::ostream& err) {
    CheckOptions(a,
                 {"--device",    "--media",         "--size-mb",      "--bus",        "--vendor",
                  "--product",   "--sec-vendor",    "--sec-product",  "--revision",   "--vid",
                  "--pid",       "--chip",          "--serial",       "--aes-engine", "--wrap",
                  "--cd-mb",     "--cd-letter",     "--sec-letter",   "--usb-port",   "--hub-depth",
                  "--protected", "--wrap-required", "--inquiry-caps", "--password",   "--hint",
                  "--secure-mb", "--cd-iso"},
                 1);
    const auto machine = MachinePath(a.positional[0]);
    std::optional<unsigned> number;
    if (const auto d = a.Get("--device")) {
        number = Number<unsigned>("--device", *d);
    } else {
        const auto taken = DeviceNumbers(machine);
        unsigned n = 0;
        while (std::find(taken.begin(), taken.end(), n) != taken.end()) {
            ++n;
        }
        number = n;
    }
    Media media = Media::kHdd;
    if (const auto m = a.Get("--media")) {
        const auto parsed = ParseMedia(*m);
        if (!parsed) {
            throw UsageError("--media: hdd or flash");
        }
        media = *parsed;
    }
    const std::uint64_t sizeMb =
        a.Get("--size-mb") ? Number<std::uint64_t>("--size-mb", *a.Get("--size-mb")) : 64;
    if (sizeMb == 0 || sizeMb > (std::uint64_t{1} << 24)) {
        throw UsageError("--size-mb: 1 to 16777216");
    }
    BridgeState s = DefaultState(media, sizeMb * 2048);
    const unsigned n = *number;
    s.cdLetter = static_cast<char>('E' + 2 * (n % 10));
    s.secLetter = static_cast<char>(s.cdLetter + 1);
    s.serial = "KVXSIM" + std::string(6 - std::min<std::size_t>(6, std::to_string(n).size()), '0') +
               std::to_string(n);
    if (const auto v = a.Get("--bus")) {
        const auto bus = ParseBus(*v);
        if (!bus) {
            throw UsageError("--bus: usb or atapi");
        }
        s.bus = *bus;
    }
    const std::pair<const char*, std::string BridgeState::*> texts[] = {
        {"--vendor", &BridgeState::vendor},        {"--product", &BridgeState::product},
        {"--sec-vendor", &BridgeState::secVendor}, {"--sec-product", &BridgeState::secProduct},
        {"--revision", &BridgeState::revision},    {"--chip", &BridgeState::chip},
        {"--serial", &BridgeState::serial},
    };
    for (const auto& [option, member] : texts) {
        if (const auto v = a.Get(option)) {
            s.*member = *v;
        }
    }
    if (const auto v = a.Get("--vid")) {
        s.vid = Number<std::uint16_t>("--vid", *v);
    }
    if (const auto v = a.Get("--pid")) {
        s.pid = Number<std::uint16_t>("--pid", *v);
    }
    if (const auto v = a.Get("--aes-engine")) {
        s.aesEngine = YesNo("--aes-engine", *v);
    }
    if (const auto v = a.Get("--wrap")) {
        const auto wrap = ParseWrap(*v == "scrambled" ? "scramble" : *v);
        if (!wrap) {
            throw UsageError("--wrap: none, scrambled or aes");
        }
        s.wrap = *wrap;
    }
    if (const auto v = a.Get("--wrap-required")) {
        s.wrapRequired = YesNo("--wrap-required", *v);
    }
    if (const auto v = a.Get("--inquiry-caps")) {
        if (*v == "auto") {
            s.inquiryCaps.reset();
        } else {
            s.inquiryCaps = Number<std::uint32_t>("--inquiry-caps", *v);
        }
    }
    if (const auto v = a.Get("--cd-mb")) {
        s.cdSectors = Number<std::uint64_t>("--cd-mb", *v) * 2048;
        s.secStart = s.cdStart + s.cdSectors;
        s.secSectors = s.sectors > s.secStart + 64 ? s.sectors - s.secStart - 64 : 0;
    }
    if (const auto v = a.Get("--secure-mb")) {
        // The secure partition's size; the rest of the medium after it is hidden-area space.
        const std::uint64_t sectors = Number<std::uint64_t>("--secure-mb", *v) * 2048;
        if (sectors == 0 || s.secStart + sectors + 64 > s.sectors) {
            throw UsageError("--secure-mb: 1 to what the medium holds after the CD area");
        }
        s.secSectors = sectors;
    }
    if (const auto v = a.Get("--cd-letter")) {
        s.cdLetter = DriveLetter("--cd-letter", *v);
    }
    if (const auto v = a.Get("--sec-letter")) {
        s.secLetter = DriveLetter("--sec-letter", *v);
    }
    if (const auto v = a.Get("--usb-port")) {
        s.usbPort = Number<std::uint32_t>("--usb-port", *v);
    }
    if (const auto v = a.Get("--hub-depth")) {
        s.usbHubDepth = Number<std::uint32_t>("--hub-depth", *v);
    }
    if (const auto v = a.Get("--protected")) {
        s.passwordSet = YesNo("--protected", *v);
        s.secureOpen = !s.passwordSet;
    }
    if (a.Get("--hint") && !a.Get("--password")) {
        throw UsageError("--hint needs --password");
    }
    if (const auto password = a.Get("--password")) {
        if (const auto refused = CheckProvisionText(ArgumentText(*password),
                                                    ArgumentText(a.Get("--hint").value_or("")))) {
            err << "kvxsim create: " << *refused << "\n";
            return 1;
        }
    }
    std::string error;
    const auto made = CreateDevice(machine, s, number, &error);
    if (!made) {
        err << "kvxsim create: " << error << "\n";
        return 1;
    }
    const DevicePaths madePaths(DeviceDirectory(machine, *made));
    if (const auto iso = a.Get("--cd-iso")) {
        if (const auto refused = LoadCdImage(madePaths, *iso)) {
            err << "kvxsim create: " << *refused << "\n";
            return 1;
        }
    }
    // Hard disks with the engine keep the image stamp in their hidden area.
    (void)WriteStampRecord(s, madePaths);
    if (const auto password = a.Get("--password")) {
        const auto refused = Provision(machine, *made, ArgumentText(*password),
                                       ArgumentText(a.Get("--hint").value_or("")));
        if (refused) {
            err << "kvxsim create: " << *refused << "\n";
            return 1;
        }
    }
    out << "device: " << *made << "\n";
    return 0;
}

int ExportCommand(const Args& a, std::ostream& out, std::ostream& err) {
    CheckOptions(a, {"--device", "--secure", "--cd"}, 1);
    const auto secure = a.Get("--secure");
    const auto cd = a.Get("--cd");
    if (secure.has_value() == cd.has_value()) {
        throw UsageError("export: --secure OUT or --cd OUT");
    }
    const auto refused = secure ? ExportSecurePartition(Device(a), *secure)
                                : ExportCdArea(Device(a), *cd);
    if (refused) {
        err << "kvxsim export: " << *refused << "\n";
        return 1;
    }
    out << "exported: " << (secure ? *secure : *cd) << "\n";
    return 0;
}

int ProvisionCommand(const Args& a, std::ostream& out, std::ostream& err) {
    CheckOptions(a, {"--device", "--password", "--hint"}, 1);
    const auto password = a.Get("--password");
    if (!password) {
        throw UsageError("provision: --password is required (empty for none)");
    }
    const auto refused = ProvisionDevice(Device(a), ArgumentText(*password),
                                         ArgumentText(a.Get("--hint").value_or("")));
    if (refused) {
        err << "kvxsim provision: " << *refused << "\n";
        return 1;
    }
    out << "device: " << DeviceNumber(a) << "\n";
    return 0;
}

int Info(const Args& a, std::ostream& out, std::ostream& err) {
    CheckOptions(a, {"--device"}, 1);
    const DevicePaths paths = Device(a);
    std::string error;
    const auto s = LoadDeviceState(paths, &error);
    if (!s) {
        err << "kvxsim info: " << error << "\n";
        return 1;
    }
    out << "device: " << DeviceNumber(a) << "\n";
    const std::string state = FormatState(*s);
    out << state.substr(state.find('\n') + 1);  // without the format line
    out << "size_mb: " << s->sectors / 2048 << "\n";
    out << "secure_letter_shown: " << (SecureLetterShown(*s) ? "yes" : "no") << "\n";
    out << "commands_logged: " << CommandLogSize(paths.log) << "\n";
    // What the firmware finds in its block region.
    if (const auto region = LoadBlockRegion(*s, paths); region && region->index) {
        const auto block = region->Block();
        out << "data_block: " << region->span.start + *region->index
            << (region->span.hidden ? " hidden" : " medium") << "\n";
        out << "password_stored: " << (HasMarker(block, datablock::kPasswordMarker) ? "yes" : "no")
            << "\n";
    } else {
        out << "data_block: none\n";
    }
    return 0;
}

int Log(const Args& a, std::ostream& out, std::ostream& err) {
    CheckOptions(a, {"--device", "--from", "--clear"}, 1);
    const DevicePaths paths = Device(a);
    auto session = DeviceSession::Begin(paths);  // keeps writers out while reading
    if (!session) {
        err << "kvxsim log: no device in " << paths.dir.string() << "\n";
        return 1;
    }
    const std::size_t from = a.Get("--from") ? Number<std::size_t>("--from", *a.Get("--from")) : 0;
    std::size_t index = from;
    for (const auto& e : ReadCommandLog(paths.log, from)) {
        out << index++ << " " << FormatLogEntry(e) << "\n";
    }
    if (a.Has("--clear")) {
        std::ofstream truncate(paths.log, std::ios::binary | std::ios::trunc);
    }
    return 0;
}

int ChangeState(const Args& a, std::ostream& err, const std::function<void(BridgeState&)>& change) {
    std::string error;
    if (!UpdateDeviceState(Device(a), change, &error)) {
        err << "kvxsim " << a.command << ": " << error << "\n";
        return 1;
    }
    return 0;
}

int FaultCommand(const Args& a, std::ostream& out, std::ostream& err) {
    CheckOptions(a, {"--device", "--count", "--sense", "--value"}, 3);
    if (a.positional.size() < 2) {
        throw UsageError("fault: which kind?");
    }
    if (a.positional[1] == "clear") {
        return ChangeState(a, err, [](BridgeState& s) { s.faults.clear(); });
    }
    // Appended piece by piece: GCC 12 at -O3 takes a concatenation of temporaries here for an
    // overlapping copy (-Wrestrict).
    std::string text = a.positional[1];
    if (a.positional.size() == 3) {
        text += ' ';
        text += a.positional[2];
    }
    for (const char* option : {"--count", "--sense", "--value"}) {
        if (const auto v = a.Get(option)) {
            text += ' ';
            text += option + 2;  // without the dashes
            text += '=';
            text += *v;
        }
    }
    const auto fault = ParseFault(text);
    if (!fault) {
        throw UsageError("fault: cannot read '" + text + "'");
    }
    const int result =
        ChangeState(a, err, [&fault](BridgeState& s) { s.faults.push_back(*fault); });
    if (result == 0) {
        out << "fault: " << FormatFault(*fault) << "\n";
    }
    return result;
}

int MachineCommand(const Args& a, std::ostream& out, std::ostream& err) {
    CheckOptions(a,
                 {"--admin", "--windows", "--product-type", "--service-pack", "--drive",
                  "--usb-foreign-port"},
                 1);
    const auto machine = MachinePath(a.positional[0]);
    std::string error;
    auto config = LoadMachine(machine, &error);
    if (!config) {
        err << "kvxsim machine: " << error << "\n";
        return 1;
    }
    if (const auto v = a.Get("--admin")) {
        config->admin = YesNo("--admin", *v);
    }
    if (const auto v = a.Get("--windows")) {
        const auto parsed = ParseMachine("windows: " + *v, nullptr);
        if (!parsed) {
            throw UsageError("--windows: MAJOR.MINOR.BUILD");
        }
        config->version.major = parsed->version.major;
        config->version.minor = parsed->version.minor;
        config->version.build = parsed->version.build;
    }
    if (const auto v = a.Get("--product-type")) {
        config->version.productType = Number<std::uint8_t>("--product-type", *v);
    }
    if (const auto v = a.Get("--service-pack")) {
        config->version.servicePack = FromUtf8(*v);
    }
    if (a.options.count("--drive") > 0) {
        config->drives.clear();
        const auto [first, last] = a.options.equal_range("--drive");
        for (auto it = first; it != last; ++it) {
            const std::string& v = it->second;
            const auto type =
                v.size() > 2 && v[1] == ':' ? ParseDriveType(v.substr(2)) : std::nullopt;
            if (!type || v[0] < 'A' || v[0] > 'Z') {
                throw UsageError(
                    "--drive: X:TYPE with TYPE removable, fixed, remote, cdrom or ramdisk");
            }
            config->drives.push_back({v[0], *type});
        }
    }
    if (const auto v = a.Get("--usb-foreign-port")) {
        config->foreignUsbPort = Number<std::uint32_t>("--usb-foreign-port", *v);
        if (config->foreignUsbPort > 3) {
            throw UsageError("--usb-foreign-port: 0 to 3");
        }
    }
    if (!a.options.empty() && !SaveMachine(machine, *config, &error)) {
        err << "kvxsim machine: " << error << "\n";
        return 1;
    }
    const std::string text = FormatMachine(*config);
    out << text.substr(text.find('\n') + 1);
    return 0;
}

}  // namespace

int RunKvxsim(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    try {
        const Args a = Parse(args);
        if (a.command == "create") {
            return Create(a, out, err);
        }
        if (a.command == "info") {
            return Info(a, out, err);
        }
        if (a.command == "log") {
            return Log(a, out, err);
        }
        if (a.command == "export") {
            return ExportCommand(a, out, err);
        }
        if (a.command == "provision") {
            return ProvisionCommand(a, out, err);
        }
        if (a.command == "replug") {
            CheckOptions(a, {"--device"}, 1);
            return ChangeState(a, err, [](BridgeState& s) { Replug(s); });
        }
        if (a.command == "unplug") {
            CheckOptions(a, {"--device"}, 1);
            return ChangeState(a, err, [](BridgeState& s) { s.plugged = false; });
        }
        if (a.command == "fault") {
            return FaultCommand(a, out, err);
        }
        if (a.command == "machine") {
            return MachineCommand(a, out, err);
        }
        if (a.command == "help" || a.command == "--help") {
            out << kUsage;
            return 0;
        }
        throw UsageError("unknown command " + a.command);
    } catch (const UsageError& e) {
        err << "kvxsim: " << e.text() << "\n" << kUsage;
        return 2;
    }
}

}  // namespace kvx::sim
