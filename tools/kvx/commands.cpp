#include "tools/kvx/commands.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "discovery/inquiry.h"
#include "frame/device_state.h"
#include "host/sectors.h"
#include "host/text.h"
#include "security/hdd_info.h"
#include "tools/kvx/failure.h"
#include "tools/kvx/progress.h"

namespace kvx::cli {
namespace {

// Operations of QDAChangePassWord.
constexpr std::uint8_t kReadHint = 2;
constexpr std::uint8_t kStorePassword = 3;
constexpr std::uint8_t kStoreWithUnlock = 4;
// Format with no password operation behind it.
constexpr std::uint8_t kNoChange = 0;

// Warnings before a reset, as Keywiper gives them.
constexpr int kResetWarnings = 3;
// Sectors moved per export call by the sector commands.
constexpr std::uint32_t kChunkSectors = 128;
// The chip code buffer the applications pass to QDAGetChipNum (520 bytes).
constexpr std::size_t kChipTextUnits = 260;

std::string Utf8(const std::uint16_t* units, std::size_t capacity) {
    return ToUtf8(ReadFixedUtf16(units, capacity));
}

std::string MediaName(std::uint8_t mediaType) {
    return (mediaType & kMediaFlash) != 0      ? "flash"
           : (mediaType & kMediaHardDisk) != 0 ? "hdd"
                                               : "unknown";
}

void StatusFields(Session& s) {
    s.Call("QDAGetPasswordStatus", &QDAGetPasswordStatus);
    const QdaRequest& r = s.request();
    auto& f = s.report().fields();
    f["media"] = MediaName(r.mediaType);
    f["password_protected"] = r.passwordSupported != 0;
    f["open"] = r.deviceDisabled != 0;
    f["verify_count"] = r.verifyCount;
}

// The INQUIRY identity of the unit at `letter`; nulls when it cannot be read.
void IdentityFields(Session& s, char letter, nlohmann::json& out) {
    out["vendor"] = nullptr;
    out["product"] = nullptr;
    const std::u16string volume = std::u16string(u"\\\\.\\") + char16_t(letter) + u":";
    Host& host = s.host();
    const OpenResult drive = host.Open(volume, kAccessRead, kShareRead | kShareWrite);
    if (drive.handle == kInvalidHandle) {
        return;
    }
    InquiryData data;
    if (Inquiry(GlobalDeviceState(), drive.handle, kInquiryStandard, data)) {
        const auto trimmed = [](std::u16string text) {
            while (!text.empty() && (text.back() == u' ' || text.back() == 0)) {
                text.pop_back();
            }
            return ToUtf8(text);
        };
        out["vendor"] = trimmed(data.Vendor());
        out["product"] = trimmed(data.Product());
    }
    host.Close(drive.handle);
}

void Devices(Session& s) {
    const std::vector<char> letters = s.CdLetters();
    nlohmann::json list = nlohmann::json::array();
    for (const char letter : letters) {
        QdaRequest& r = s.request();
        r.driveLetter = static_cast<std::uint8_t>(letter);
        nlohmann::json entry = {{"cd", std::string(1, letter)}};
        IdentityFields(s, letter, entry);
        std::uint16_t chip[kChipTextUnits] = {};
        entry["chip"] = QDAGetChipNum(&r, chip) != 0 ? nlohmann::json(Utf8(chip, std::size(chip)))
                                                     : nlohmann::json(nullptr);
        s.Call("QDAGetPasswordStatus", &QDAGetPasswordStatus);
        entry["media"] = MediaName(r.mediaType);
        entry["password_protected"] = r.passwordSupported != 0;
        entry["open"] = r.deviceDisabled != 0;
        list.push_back(entry);
    }
    nlohmann::json secure = nlohmann::json::array();
    if (QDACheckSEC(&s.request()) != 0) {
        for (const std::uint8_t letter : s.request().secureLetters) {
            if (letter != 0) {
                secure.push_back(std::string(1, static_cast<char>(letter)));
            }
        }
    }
    s.report().fields()["devices"] = list;
    s.report().fields()["secure_units"] = secure;
}

void Status(Session& s) {
    s.Select();
    StatusFields(s);
}

void Capacity(Session& s) {
    s.Select();
    s.Call("QDAGetDeviceCapacity", &QDAGetDeviceCapacity);
    const QdaRequest& r = s.request();
    auto& f = s.report().fields();
    // The record is packed: its fields are copied out, never bound by reference.
    f["medium_mb"] = std::uint32_t{r.mediumSizeMb};
    f["cd_mb"] = std::uint32_t{r.cdSizeMb};
    f["secure_mb"] = std::uint32_t{r.secureSizeMb};
    f["second_mb"] = std::uint32_t{r.secondSizeMb};
}

// Proves a password with QDASHA2Auth; a refused one ends the command with exit code 3 and the
// tries the device has left.
void Authenticate(Session& s, const Password& password) {
    QdaRequest& r = s.request();
    r.verifyCount = 0;
    s.PutPassword(password.view());
    const int ok = QDASHA2Auth(&r);
    s.WipePassword();
    if (ok == 0) {
        s.report().fields()["verify_count"] = r.verifyCount;
        const Failure failure = Failure::Library("QDASHA2Auth", r.errorCode);
        if (failure.exitCode() == kExitWrongPassword) {
            throw failure.Extended("; the device allows " + std::to_string(r.verifyCount) +
                                   " more tries");
        }
        throw failure;
    }
}

void Login(Session& s) {
    s.Select();
    StatusFields(s);
    auto& f = s.report().fields();
    if (s.request().passwordSupported == 0 || s.request().deviceDisabled != 0) {
        s.Note("no login needed: the secure partition is open");
        f["login_needed"] = false;
        return;
    }
    f["login_needed"] = true;
    Password password;
    s.input().ReadPassword("Password: ", password);
    Authenticate(s, password);
    password.Wipe();
    s.Call("QDALaunchSec", &QDALaunchSec);
    f["open"] = true;
    f.erase("verify_count");
}

void Lock(Session& s) {
    s.Select();
    QDACheckSEC(&s.request());
    s.Call("QDAEjectSec", &QDAEjectSec);
    s.report().fields()["locked"] = true;
}

void Hint(Session& s) {
    s.Select();
    s.request().changeOp = kReadHint;
    s.Call("QDAChangePassWord", &QDAChangePassWord);
    s.report().fields()["hint"] = Utf8(s.request().hint, std::size(s.request().hint));
}

struct NewSecrets {
    Password password;
    std::u16string hint;
};

// The new password (twice) and the hint: from --hint when given, else asked after them.
void ReadNewSecrets(Session& s, const std::optional<std::string>& hintOption, NewSecrets& out) {
    if (hintOption) {
        out.hint = FromUtf8(*hintOption);
        CheckHint(out.hint);
    }
    s.input().ReadNewPassword(out.password);
    if (!hintOption) {
        out.hint = s.input().ReadHint("Hint: ");
    }
}

// Stores the new password and hint with QDAChangePassWord in `mode`; the password leaves every
// buffer as soon as the device has it.
void StoreNewSecrets(Session& s, std::uint8_t mode, NewSecrets& secrets) {
    QdaRequest& r = s.request();
    r.changeOp = mode;
    s.PutPassword(secrets.password.view());
    s.PutHint(secrets.hint);
    secrets.password.Wipe();
    const int ok = QDAChangePassWord(&r);
    s.WipePassword();
    if (ok == 0) {
        throw Failure::Library("QDAChangePassWord", r.errorCode);
    }
    s.report().fields()["password_changed"] = true;
}

void Passwd(Session& s, const std::optional<std::string>& hintOption) {
    s.Select();
    s.Call("QDAGetPasswordStatus", &QDAGetPasswordStatus);
    const bool protectedDevice = s.request().passwordSupported != 0;
    Password current;
    if (protectedDevice) {
        s.input().ReadPassword("Current password: ", current);
    }
    NewSecrets secrets;
    ReadNewSecrets(s, hintOption, secrets);
    if (protectedDevice) {
        Authenticate(s, current);
        current.Wipe();
    }
    StoreNewSecrets(s, kStorePassword, secrets);
}

// Asks `count` times before a destructive command; without a person to ask, --yes must be given.
void ConfirmDestruction(Session& s, const std::string& what, int count) {
    if (s.options().yes) {
        return;
    }
    if (!s.input().Interactive()) {
        throw Failure(kExitUsage, what +
                                      " erases the secure partition: give --yes to confirm "
                                      "when no one can be asked");
    }
    for (int i = 1; i <= count; ++i) {
        const std::string question =
            i == 1      ? what + " erases everything on the secure partition. Continue?"
            : i < count ? "All data on the secure partition will be lost. Really continue?"
                        : "Last warning: erase the secure partition now?";
        if (!s.input().Confirm(question)) {
            throw Failure(kExitUsage, what + " cancelled; nothing was changed");
        }
    }
}

// The secure partition's size in bytes for the progress rate (0 when unknown).
std::uint64_t SecureBytes(Session& s) {
    return QDAGetDeviceCapacity(&s.request()) != 0
               ? std::uint64_t{s.request().secureSizeMb} * kBytesPerMb
               : 0;
}

void Format(Session& s, std::uint8_t changeOp) {
    ProgressBar bar(s.ShowProgress(), "Formatting", SecureBytes(s));
    s.request().changeOp = changeOp;
    bar.Into(s.request());
    s.Call("QDAFormatHDD", &QDAFormatHDD);
    bar.Update(100);
    s.report().fields()["formatted"] = true;
}

void Reset(Session& s, const std::optional<std::string>& hintOption) {
    s.Select();
    ConfirmDestruction(s, "reset", kResetWarnings);
    NewSecrets secrets;
    ReadNewSecrets(s, hintOption, secrets);
    s.Call("QDAGetPasswordStatus", &QDAGetPasswordStatus);
    StoreNewSecrets(s, kStoreWithUnlock, secrets);
    // The format reads the mode of the change still in the record.
    Format(s, kStoreWithUnlock);
}

void FormatCommand(Session& s) {
    s.Select();
    ConfirmDestruction(s, "format", 1);
    s.Call("QDAGetPasswordStatus", &QDAGetPasswordStatus);
    Format(s, kNoChange);
}

void PutPath(const std::filesystem::path& path, std::uint16_t* field, std::size_t capacity) {
    const std::u16string text = std::filesystem::absolute(path).u16string();
    if (text.size() >= capacity) {
        throw Failure(kExitUsage, "the path is too long: " + ToUtf8(text));
    }
    WriteFixedUtf16(text, field, capacity);
}

struct CdUpdateOptions {
    std::string image;
    std::optional<std::string> backup;
    bool stamp = false;
};

void CdUpdate(Session& s, const CdUpdateOptions& o) {
    const std::filesystem::path image(FromUtf8(o.image));
    std::error_code ec;
    const std::uint64_t imageBytes = std::filesystem::file_size(image, ec);
    if (ec) {
        throw Failure(kExitUsage, "cannot read the image " + o.image);
    }
    // The library always keeps the old CD content; without --backup it goes to a temporary
    // file that is removed once the update has succeeded.
    const bool keepBackup = o.backup.has_value();
    const std::filesystem::path backup =
        keepBackup ? std::filesystem::path(FromUtf8(*o.backup))
                   : std::filesystem::temp_directory_path() /
                         ("kvx-cd-backup-" + std::to_string(ActiveHost().Time()) + ".iso");
    s.Select();
    QdaImageRequest images{};
    PutPath(image, images.imagePath, std::size(images.imagePath));
    PutPath(backup, images.backupPath, std::size(images.backupPath));
    images.stampImage = o.stamp ? 1 : 0;
    // The CD sizes and spare room the update checks come with the password data block.
    s.request().changeOp = kReadHint;
    s.Call("QDAChangePassWord", &QDAChangePassWord);
    ProgressBar bar(s.ShowProgress(), "Updating CD", imageBytes);
    bar.Into(s.request());
    try {
        s.Call("QDAUpdateCDPart", &QDAUpdateCDPart, &images);
    } catch (const Failure&) {
        if (std::filesystem::exists(backup, ec)) {
            s.report().fields()["backup"] = ToUtf8(backup.u16string());
            s.Note("the CD partition's former content is kept in " + ToUtf8(backup.u16string()));
        }
        throw;
    }
    bar.Update(100);
    auto& f = s.report().fields();
    f["updated"] = true;
    f["cd_mb"] = std::uint32_t{s.request().cdSizeMb};
    f["spare_cd_mb"] = std::uint16_t{s.request().spareCdMb};
    if (keepBackup) {
        f["backup"] = ToUtf8(backup.u16string());
    } else {
        std::filesystem::remove(backup, ec);
    }
}

void CdFlag(Session& s, bool withPassword, const std::optional<std::string>& hintOption) {
    s.Select();
    NewSecrets secrets;
    QdaRequest& r = s.request();
    if (withPassword) {
        ReadNewSecrets(s, hintOption, secrets);
        s.PutPassword(secrets.password.view());
        s.PutHint(secrets.hint);
        secrets.password.Wipe();
    }
    r.writePasswordFlag = withPassword ? 1 : 0;
    const int ok = QDAWriteCDFormatFlag(&r);
    s.WipePassword();
    if (ok == 0) {
        throw Failure::Library("QDAWriteCDFormatFlag", r.errorCode);
    }
    s.report().fields()["cd_flag"] = true;
    s.report().fields()["password_stored"] = withPassword;
}

struct SectorOptions {
    std::string direction = "read";  // hidden only
    std::uint32_t start = 0;
    std::uint32_t count = 0;
    std::string file;
};

// Sector transfers in pieces of kChunkSectors between the device and a file.
void Sectors(Session& s, const SectorOptions& o, const char* name, QdaDataFn fn) {
    const bool write = o.direction == "write";
    const std::filesystem::path file(FromUtf8(o.file));
    std::uint64_t count = o.count;
    WipedBytes data;
    if (write) {
        std::ifstream in(file, std::ios::binary);
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            throw Failure(kExitUsage, "cannot read " + o.file);
        }
        if (data.empty() || data.size() % kSectorSize != 0) {
            throw Failure(kExitUsage, o.file + " does not hold whole 512-byte sectors");
        }
        count = data.size() / kSectorSize;
    } else if (count == 0) {
        throw Failure(kExitUsage, "COUNT is at least 1");
    }
    s.Select();
    if (!write) {
        data.resize(count * kSectorSize);
    }
    QdaRequest& r = s.request();
    for (std::uint64_t done = 0; done < count;) {
        const auto piece =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSectors, count - done));
        r.startSector = static_cast<std::uint32_t>(o.start + done);
        r.sectorCount = static_cast<std::uint16_t>(piece);
        r.writeFlag = write ? 1 : 0;
        s.Call(name, fn, data.data() + done * kSectorSize);
        done += piece;
    }
    if (!write) {
        // The file is written only once every sector was read, so a failure leaves it as it was.
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        if (!out.flush()) {
            throw Failure(kExitLibraryError, "cannot write " + o.file);
        }
    }
    auto& f = s.report().fields();
    f["start"] = o.start;
    f["count"] = count;
    f["file"] = o.file;
    f[write ? "written" : "read"] = true;
}

}  // namespace

std::vector<Command> AddCommands(CLI::App& app, GlobalOptions& globals) {
    std::vector<Command> commands;
    const auto add = [&](const char* name, const char* help, std::function<void(Session&)> run) {
        CLI::App* sub = app.add_subcommand(name, help);
        commands.push_back({sub, std::move(run)});
        return sub;
    };
    // Option values live as long as the commands that read them.
    auto hint = std::make_shared<std::optional<std::string>>();
    auto cd = std::make_shared<CdUpdateOptions>();
    auto sectors = std::make_shared<SectorOptions>();
    auto withPassword = std::make_shared<bool>(false);
    const auto addHint = [&](CLI::App* sub) {
        sub->add_option("--hint", *hint,
                        "the password hint (5 to 150 characters); asked for when not given");
    };
    const auto addYes = [&](CLI::App* sub) {
        sub->add_flag("-y,--yes", globals.yes, "go ahead without asking (needed in scripts)");
    };

    add("devices", "list the devices: CD unit letter, vendor and product, chip, locked or open",
        Devices);
    add("status", "password protection, open or locked, and the tries left", Status);
    add("capacity", "sizes of the medium, the CD partition and the secure partition", Capacity);
    add("login", "ask for the password and open the secure partition", Login);
    add("lock", "eject the secure unit, so that the device is locked again", Lock);
    add("hint", "show the password hint stored on the device", Hint);
    addHint(add("passwd",
                "change the password: asks for the current one (when one is set), the new one "
                "twice, and a hint",
                [hint](Session& s) { Passwd(s, *hint); }));
    CLI::App* reset = add("reset",
                          "forgotten password: store a new password and hint, then erase and "
                          "format the secure partition (asks three times, or --yes)",
                          [hint](Session& s) { Reset(s, *hint); });
    addHint(reset);
    addYes(reset);
    addYes(add("format", "erase and format the secure partition (asks first, or --yes)",
               FormatCommand));

    CLI::App* update = add("cd-update",
                           "rewrite the CD partition from an ISO 9660 image, keeping a backup "
                           "of the old content",
                           [cd](Session& s) { CdUpdate(s, *cd); });
    update->add_option("IMAGE", cd->image, "the new CD image")->required();
    update->add_option("--backup", cd->backup,
                       "keep the old CD content in this file (default: a temporary file, "
                       "removed after a successful update)");
    update->add_flag("--stamp", cd->stamp, "stamp the new image with the device's stamp record");

    CLI::App* flag = add("cd-flag",
                         "record in the password data block that the CD partition was laid "
                         "down",
                         [withPassword, hint](Session& s) { CdFlag(s, *withPassword, *hint); });
    flag->add_flag("--with-password", *withPassword,
                   "store a new password and hint with the flag (asked for)");
    addHint(flag);

    CLI::App* hidden = add(
        "hidden",
        "read sectors of the hidden area into a file, or write a file "
        "there",
        [sectors](Session& s) { Sectors(s, *sectors, "QDAHiddenPartRdWr", &QDAHiddenPartRdWr); });
    hidden->add_option("DIRECTION", sectors->direction, "read or write")
        ->required()
        ->check(CLI::IsMember({"read", "write"}));
    hidden->add_option("START", sectors->start, "first sector of the hidden area")->required();
    hidden
        ->add_option("FILE", sectors->file,
                     "read: the file written; write: the file whose sectors are written")
        ->required();
    hidden->add_option("--count", sectors->count, "read: how many sectors");

    CLI::App* read =
        add("read", "read sectors of the medium (absolute) into a file",
            [sectors](Session& s) { Sectors(s, *sectors, "QDARdWrDirect", &QDARdWrDirect); });
    read->add_option("START", sectors->start, "first sector")->required();
    read->add_option("COUNT", sectors->count, "how many sectors")->required();
    read->add_option("FILE", sectors->file, "the file written")->required();
    return commands;
}

}  // namespace kvx::cli
