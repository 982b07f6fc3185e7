// QDAUpdateCDPart: replaces the content of the CD partition with a new ISO 9660 image. Everything
// is checked before the first write (image, room, stamp); the current content is saved to a backup
// file and verified; the data block carries the "update in progress" mark while the new image
// goes out, and the new size with the "done" mark only after the image was read back equal.
#include <algorithm>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "discovery/identify.h"
#include "frame/errors.h"
#include "frame/export_frame.h"
#include "frame/os_type.h"
#include "frame/qda.h"
#include "frame/request_text.h"
#include "host/text.h"
#include "media/image_stamp.h"
#include "media/progress.h"
#include "media/writers.h"
#include "security/data_block.h"
#include "security/hdd_info.h"
#include "transport/vendor.h"
#include "transport/volume_control.h"

namespace kvx::media {
namespace {

constexpr char16_t kWriteSection[] = u"onDoCDFSFormat()";
constexpr char16_t kFailed[] = u"Failed";

// New: the device's image stamp could not be read.

constexpr std::uint32_t kPiece = 128 * kSectorSize;
constexpr std::uint32_t kStampFromEnd = 33;

// An open host file, closed on destruction.
class HostFile {
  public:
    HostFile(Host& host, std::u16string_view path, std::uint32_t access, Disposition disposition)
        : host_(host),
          handle_(
              host.Open(path, access, access == kAccessRead ? kShareRead : kShareNone, disposition)
                  .handle) {}
    ~HostFile() { host_.Close(handle_); }
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;
    bool ok() const { return handle_ != kInvalidHandle; }
    std::optional<std::uint64_t> Size() { return host_.FileSize(handle_); }
    // Exactly data.size() bytes at offset; a short read fails.
    bool Read(std::uint64_t offset, std::span<std::uint8_t> data) {
        const auto got = host_.ReadAt(handle_, offset, data);
        return got && *got == data.size();
    }
    // Up to data.size() bytes; the rest of data becomes zero (an image's last partial sector).
    std::optional<std::size_t> ReadPadded(std::uint64_t offset, std::span<std::uint8_t> data) {
        const auto got = host_.ReadAt(handle_, offset, data);
        if (got) {
            std::fill(data.begin() + static_cast<std::ptrdiff_t>(*got), data.end(),
                      std::uint8_t{0});
        }
        return got;
    }
    bool Write(std::uint64_t offset, std::span<const std::uint8_t> data) {
        return host_.WriteAt(handle_, offset, data);
    }

  private:
    Host& host_;
    HostHandle handle_;
};

// The CD area starts at sector 16 exactly when the secure partition's addresses are shifted.
std::uint32_t CdStart(const DeviceState& state, const MediumInfo& medium) {
    return (medium.IsHardDisk() && state.chipFlag == 0) || state.chipListFlag != 0 ? 16 : 0;
}

std::uint64_t Sectors(std::uint64_t bytes) {
    return (bytes + kSectorSize - 1) / kSectorSize;
}

struct Update {
    ExportFrame& frame;
    MediumInfo medium;
    std::uint32_t cdStart = 0;
    std::optional<ImageStamp> stamp;

    DeviceState& state() { return frame.state(); }
    QdaRequest& request() { return frame.request(); }
    void LogWrite(std::u16string_view key) { frame.log().WriteIn(kWriteSection, key, kFailed); }
    bool ReadMedium(std::uint64_t sector, std::span<std::uint8_t> data) {
        return ReadWriteSectors(state(), static_cast<std::uint32_t>(cdStart + sector),
                                static_cast<std::uint16_t>(data.size() / kSectorSize), false, true,
                                data.data());
    }
    bool WriteMedium(std::uint64_t sector, std::span<const std::uint8_t> data) {
        return WriteSectorsWithRetry(state(), static_cast<std::uint32_t>(cdStart + sector),
                                     static_cast<std::uint16_t>(data.size() / kSectorSize), false,
                                     data.data());
    }
};

// Saves cdSectors sectors of the CD area into the backup file and checks the file against them.
bool ReadCmpCDData(Update& u, std::u16string_view backupPath, std::uint64_t cdSectors) {
    Host& host = u.frame.host();
    ProgressReporter progress(host, u.request(), u"Verifying the data in the CD partition... ");
    progress.Report(0);
    const std::uint64_t bytes = cdSectors * kSectorSize;
    std::vector<std::uint8_t> medium(kPiece);
    {
        HostFile file(host, backupPath, kAccessWrite, Disposition::kCreateAlways);
        if (!file.ok()) {
            u.frame.Fail(kErrBackupWrite);
            return false;
        }
        for (std::uint64_t at = 0; at < bytes;) {
            const std::uint32_t n = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(bytes - at >= kPiece ? kPiece : kSectorSize, bytes - at));
            const auto piece = std::span(medium).first(n);
            if (!u.ReadMedium(at / kSectorSize, piece)) {
                u.LogWrite(u"Reading 128 sector CD Data from the Media Failed");
                u.frame.Fail(kErrBackupRead);
                return false;
            }
            if (!file.Write(at, piece)) {
                if (n == kSectorSize) {
                    u.LogWrite(u"Writing one sector CD Data to Hard Drive");
                }
                u.frame.Fail(kErrBackupWrite);
                return false;
            }
            progress.Update(at, bytes);
            at += n;
        }
    }
    HostFile file(host, backupPath, kAccessRead, Disposition::kOpenExisting);
    if (!file.ok()) {
        u.frame.Fail(kErrBackupCheck);
        return false;
    }
    progress.SetText(u"Verifying the backup image of the CD...");
    std::vector<std::uint8_t> saved(kPiece);
    for (std::uint64_t at = 0; at < bytes;) {
        const std::uint32_t n = bytes - at >= kPiece ? kPiece : kSectorSize;
        const auto piece = std::span(medium).first(n);
        const auto back = std::span(saved).first(n);
        if (!file.Read(at, back)) {
            u.frame.Fail(kErrBackupCheck);
            return false;
        }
        if (!u.ReadMedium(at / kSectorSize, piece)) {
            u.LogWrite(u"Reading 128 sector CD Data from the Media Failed");
            u.frame.Fail(kErrBackupCheck);
            return false;
        }
        if (!std::equal(piece.begin(), piece.end(), back.begin())) {
            u.LogWrite(n == kPiece
                           ? u"Verifying 128 sector CD Data from the Media Failed with ISO Image"
                           : u"Verifying one sector CD Data from the Media Failed with ISO Image");
            u.frame.Fail(kErrBackupDiffers);
            return false;
        }
        progress.Update(at, bytes);
        at += n;
    }
    return true;
}

// Streams an image file to the CD area (mode 0: the backup back; mode 1: the new image, then
// read back and compared). The last partial sector goes out zero-padded.
bool WriteISOData(Update& u, std::u16string_view path, int mode, bool stampIt) {
    Host& host = u.frame.host();
    const std::uint8_t fileError = mode == 0 ? kErrBackupCheck : kErrImage;
    HostFile file(host, path, kAccessRead, Disposition::kOpenExisting);
    const std::optional<std::uint64_t> size = file.ok() ? file.Size() : std::nullopt;
    if (!size) {
        u.frame.Fail(fileError);
        return false;
    }
    ProgressReporter progress(host, u.request(),
                              mode == 0 ? u"Verifying the backup image restore..."
                                        : u"Writing the file(s) into CD media...");
    progress.Report(0);
    std::vector<std::uint8_t> piece(kPiece);
    std::optional<StampWriter> stamper;
    if (stampIt && u.stamp) {
        stamper.emplace(*u.stamp);
    }
    const std::uint64_t bytes = *size;
    for (std::uint64_t at = 0; at < bytes;) {
        const bool whole = bytes - at >= kPiece;
        const std::uint32_t n = whole ? kPiece : kSectorSize;
        const auto data = std::span(piece).first(n);
        if (!file.ReadPadded(at, data)) {
            u.frame.Fail(fileError);
            return false;
        }
        if (stamper) {
            stamper->Apply(
                data.first(static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes - at))));
        }
        if (!u.WriteMedium(at / kSectorSize, data)) {
            u.LogWrite(whole ? u"Writing 128 sector CD Data to Hard Drive"
                             : u"Writing one sector CD Data to Hard Drive");
            u.frame.Fail(whole ? kErrMediumNotWritten : kErrImage);
            return false;
        }
        progress.Update(at, bytes);
        at += n;
    }
    progress.Report(100);
    if (mode == 0) {
        return true;
    }
    progress.SetText(u"Verifying data in the CD...");
    std::vector<std::uint8_t> back(kPiece);
    if (stampIt && u.stamp) {
        stamper.emplace(*u.stamp);
    }
    for (std::uint64_t at = 0; at < bytes;) {
        const bool whole = bytes - at >= kPiece;
        const std::uint32_t n = whole ? kPiece : kSectorSize;
        const auto expected = std::span(piece).first(n);
        const auto got = std::span(back).first(n);
        if (!file.ReadPadded(at, expected)) {
            u.frame.Fail(kErrImage);
            return false;
        }
        if (stamper) {
            stamper->Apply(
                expected.first(static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes - at))));
        }
        if (!u.ReadMedium(at / kSectorSize, got)) {
            u.LogWrite(u"Reading 128 sector CD Data from the Media Failed");
            u.frame.Fail(kErrReadBack);
            return false;
        }
        if (!std::equal(expected.begin(), expected.end(), got.begin())) {
            u.LogWrite(whole
                           ? u"Verifying 128 sector CD Data from the Media Failed with ISO Image"
                           : u"Verifying one sector CD Data from the Media Failed with ISO Image");
            u.frame.Fail(kErrReadBack);
            return false;
        }
        progress.Update(at, bytes);
        at += n;
    }
    progress.Report(100);
    return true;
}

// Marks the data block: before the new image FF FD; after it FF F8 with the new sizes. The block
// goes back where it was found.
bool WriteUpdateCDpartDataBlk(Update& u, bool after) {
    DeviceState& state = u.state();
    QdaRequest& request = u.request();
    const DiagnosticLog& log = u.frame.log();
    if (LacksDriveHandle(state)) {
        u.frame.Fail(kErrNoDriveHandle);
        return false;
    }
    MediumInfo medium;
    if (!GetHddInfo(state, log, request.errorCode, medium)) {
        u.frame.Fail(kErrNoCapacity);
        return false;
    }
    BlockRegion region;
    if (!LocateDataBlock(state, medium, region, request.errorCode)) {
        return false;
    }
    if (!region.index) {
        u.frame.Fail(kErrBlockNotRead);
        return false;
    }
    const std::span<std::uint8_t> image = region.Block();
    image[block::kCdMark] = 0xFF;
    if (!after) {
        image[block::kCdState] = 0xFD;
    } else {
        image[block::kCdState] = 0xF8;
        const std::uint32_t cdBlocks = request.cdSizeMb * 512;
        WriteBe32(image, block::kCdSectors, cdBlocks);
        WriteBe16(image, block::kCdMinutes, static_cast<std::uint16_t>(cdBlocks / 4500));
        image[block::kCdSeconds] = static_cast<std::uint8_t>((cdBlocks % 4500) / 75);
        image[block::kCdFrames] = static_cast<std::uint8_t>(cdBlocks % 75);
        WriteBe16(image, block::kSpareCdMb, request.spareCdMb);
    }
    const bool ok = RewriteRegion(state, medium, region, request.errorCode);
    log.WriteIn(u"WriteUpdateCDpartDataBlk()",
                FormatText("%s 0x%x", "Writing update CD partition Data Block in Sector Number",
                           static_cast<unsigned>(region.place.start + *region.index)),
                ok ? u"Completed Successfully" : kFailed);
    return ok;
}

bool Run(ExportFrame& frame, const QdaImageRequest& images, bool& locked) {
    QdaRequest& request = frame.request();
    DeviceState& state = frame.state();
    Host& host = frame.host();
    const DiagnosticLog& log = frame.log();
    if (!frame.CheckDrive(&IdentifyDevice)) {
        return false;
    }
    // Hub mode has no drive to lock or write through: the side channel is no path for an image.
    if (LacksDriveHandle(state)) {
        frame.Fail(kErrNoDriveHandle);
        return false;
    }
    host.SetProgressPosition(request.progressBar, 0);
    host.SetControlText(request.progressPercent, u"0");
    const char letter = static_cast<char>(request.driveLetter);
    if (state.osType == kOsNt4 || state.osType == kOsNt5OrLater) {
        if (!LockVolume(host, state.drive)) {
            log.Write(FormatText("%s %c:", "Device Lock", letter), kFail);
            frame.Fail(kErrNotLocked);
            return false;
        }
        locked = true;
    }
    log.Write(FormatText("%s %c:", "OnCheckDrvLet()", letter), kPass);
    const std::u16string infoKey = FormatText("%s%s", "Calling", "qdaGetHDDInfo()");
    log.Write(infoKey, kPass);
    Update u{frame, {}, 0, std::nullopt};
    if (!GetHddInfo(state, log, request.errorCode, u.medium)) {
        log.Write(infoKey, kFail);
        frame.Fail(kErrNoCapacity);
        return false;
    }
    request.mediaType = u.medium.mediaType;
    u.cdStart = CdStart(state, u.medium);

    BlockRegion region;
    if (!LocateDataBlock(state, u.medium, region, request.errorCode)) {
        return false;
    }
    if (!region.index) {
        frame.Fail(kErrBlockNotRead);
        return false;
    }
    const auto block = std::as_const(region).Block();
    request.cdSizeMb = ReadBe32(block, block::kCdSectors) / kCdBlocksPerMb;
    const std::uint64_t secureStart = ReadBe32(block, block::kFirstStart);
    const std::uint64_t cdSectors = std::uint64_t{request.cdSizeMb} * kSectorsPerMb;
    log.Write(FormatText("%s %x", "Number of CDSectors", static_cast<unsigned>(cdSectors)), kPass);
    if (cdSectors == 0) {
        return false;
    }

    const std::u16string imagePath =
        ReadFixedUtf16(images.imagePath, std::extent_v<decltype(images.imagePath)>);
    const std::u16string backupPath =
        ReadFixedUtf16(images.backupPath, std::extent_v<decltype(images.backupPath)>);
    std::uint64_t imageBytes = 0;
    {
        HostFile image(host, imagePath, kAccessRead, Disposition::kOpenExisting);
        const auto size = image.ok() ? image.Size() : std::nullopt;
        if (!size) {
            frame.Fail(kErrImage);
            return false;
        }
        imageBytes = *size;
    }
    // Room: the image within the CD area and the spare megabytes the caller gives (its copy of
    // the block's bytes 104-105), never into the secure partition.
    const std::int64_t room = static_cast<std::int64_t>(cdSectors) +
                              (std::int64_t{request.spareCdMb} - 1) * kSectorsPerMb;
    const std::uint64_t newMb = imageBytes / kBytesPerMb + 1;
    if (static_cast<std::int64_t>(Sectors(imageBytes)) > room ||
        std::uint64_t{request.cdSizeMb} + request.spareCdMb < newMb ||
        (secureStart != 0 && newMb * kSectorsPerMb > secureStart)) {
        frame.Fail(kErrOutOfRange);
        return false;
    }
    const std::uint32_t oldCdMb = request.cdSizeMb;
    request.spareCdMb = static_cast<std::uint16_t>(request.cdSizeMb + request.spareCdMb - newMb);
    request.cdSizeMb = static_cast<std::uint32_t>(newMb);
    if (images.stampImage == 1 && u.medium.IsHardDisk()) {
        ImageStamp stamp;
        if (!ReadImageStamp(state, u.medium.aesEngine, u.medium.totalSectors - kStampFromEnd,
                            stamp)) {
            frame.Fail(kErrNoStamp);
            return false;
        }
        u.stamp = stamp;
    }

    // Nothing was written so far.
    log.Write(FormatText("%s%s", "Calling", "ReadCmpCDData()"), kPass);
    if (!ReadCmpCDData(u, backupPath, std::uint64_t{oldCdMb} * kSectorsPerMb)) {
        log.Write(FormatText("%s%s", "Calling", "ReadCmpCDData()"), kFail);
        return false;
    }
    const std::u16string restoreKey = u"CallingWriteISOData() For Backup ISO image " + backupPath;
    log.Write(restoreKey, kPass);
    if (!WriteISOData(u, backupPath, 0, false)) {
        log.Write(restoreKey, kFail);
        return false;
    }
    log.Write(u"Check PartitionSize", kPass);
    log.Write(FormatText("%s%s", "Calling", "WriteUpdateCDpartDataBlk()"), kPass);
    if (!WriteUpdateCDpartDataBlk(u, false)) {
        frame.Fail(kErrRewriteFailed);
        log.Write(u"WriteUpdateCDpartDataBlk() before update CD", kFail);
        return false;
    }
    const std::u16string writeKey = u"CallingWriteISOData() For new ISO image " + imagePath;
    log.Write(writeKey, kPass);
    if (!WriteISOData(u, imagePath, 1, u.stamp.has_value())) {
        log.Write(writeKey, kFail);
        return false;
    }
    const bool ok = WriteUpdateCDpartDataBlk(u, true);
    if (!ok) {
        frame.Fail(kErrRewriteFailed);
    }
    log.Write(u"WriteUpdateCDpartDataBlk() after update CD", ok ? kPass : kFail);
    return ok;
}

}  // namespace
}  // namespace kvx::media

using namespace kvx;

KVX_API int KVX_CALL QDAUpdateCDPart(QdaRequest* request, QdaImageRequest* images) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAUpdateCDPart()");
    bool locked = false;
    bool ok = frame.Begin() && images != nullptr && media::Run(frame, *images, locked);
    DeviceState& state = frame.state();
    if (locked && !DismountAndUnlock(frame.host(), state.drive)) {
        SetErrorOnce(request->errorCode, kErrUnlockVolume);
    }
    return frame.Finish(ok);
}
