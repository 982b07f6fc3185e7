// The FAT12/FAT16 layout of flash media up to 2048 MB: the whole system area built in memory and
// streamed to the medium, 128 sectors a write and then one sector a write. What follows the root
// directory is left as it was.
#include "frame/errors.h"
#include "frame/os_type.h"
#include "frame/request_text.h"
#include "media/progress.h"
#include "media/sector_stream.h"
#include "media/writers.h"

namespace kvx::media {
namespace {

constexpr char16_t kSection[] = u"OnWriteFAT16FlashSecFS()";
constexpr char16_t kWriteSection[] = u"onDoCDFSFormat()";
constexpr char16_t kFailed[] = u"Failed";

bool Stream(ExportFrame& frame, const PartitionPlan& plan, std::span<const std::uint8_t> image,
            ProgressReporter& progress) {
    SectorStream stream(frame.state());
    const DiagnosticLog& log = frame.log();
    constexpr std::size_t kPiece = kBlockSectors * kSectorSize;
    std::size_t offset = 0;
    for (; offset + kPiece <= image.size(); offset += kPiece) {
        if (!stream.WriteSectors(plan.base + offset / kSectorSize, image.subspan(offset, kPiece))) {
            log.WriteIn(kWriteSection, u"Writing 128 sector of filesystem into Secure Hard Drive",
                        kFailed);
            frame.Fail(kErrMbrNotWritten);
            return false;
        }
        progress.Update(offset, image.size());
    }
    for (; offset < image.size(); offset += kSectorSize) {
        if (!stream.WriteSectors(plan.base + offset / kSectorSize,
                                 image.subspan(offset, kSectorSize))) {
            log.WriteIn(kWriteSection, u"Writing one sector of filesystem into Secure Hard Drive",
                        kFailed);
            frame.Fail(kErrMediumNotWritten);
            return false;
        }
        progress.Update(offset, image.size());
    }
    return true;
}

}  // namespace

int OnWriteFAT16FlashSecFS(ExportFrame& frame, const PartitionPlan& plan,
                           std::u16string_view label) {
    DeviceState& state = frame.state();
    if (!plan.fat16) {
        frame.Fail(kErrFormatFailed);
        return 0;
    }
    if (LacksDriveHandle(state)) {
        frame.Fail(kErrNoDriveHandle);
        return 0;
    }
    const Fat16Layout& g = *plan.fat16;
    ProgressReporter progress(frame.host(), frame.request(), WriterProgressText(frame.request()));
    progress.Report(0);
    const DiagnosticLog& log = frame.log();
    log.WriteIn(kSection, u"No.of Sectors for Secure Partition",
                FormatText("0x%x", g.partitionSectors));
    const std::vector<std::uint8_t> image =
        Fat16SystemArea(g, MakeVolumeSerial(frame.host()), VolumeLabelName(frame.host(), label));
    const bool ok = Stream(frame, plan, image, progress);
    if (ok) {
        progress.Report(100);
    }
    log.WriteIn(kSection, u"Writing FAT 16 FileSystem Data to Secure Partition",
                ok ? u"Completed Successfully" : kFailed);
    return ok ? 1 : 0;
}

}  // namespace kvx::media
