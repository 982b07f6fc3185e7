// The FAT32 layout of hard disks and large flash media: master boot record, gap, boot region
// with its backup, both FATs and the root directory cluster, in ascending sector order.
#include "frame/os_type.h"
#include "frame/request_text.h"
#include "media/progress.h"
#include "media/sector_stream.h"
#include "media/writers.h"

namespace kvx::media {
namespace {

constexpr char16_t kSection[] = u"OnWriteFAT32HDDSecFS()";
constexpr char16_t kPassed[] = u"PASSED";
constexpr char16_t kFailed[] = u"Failed";
constexpr std::uint32_t kBackupBoot = 6;

class Fat32Writer {
  public:
    Fat32Writer(ExportFrame& frame, const PartitionPlan& plan, const Fat32Layout& g,
                std::u16string_view label)
        : frame_(frame),
          log_(frame.log()),
          g_(g),
          base_(plan.base),
          boot_(base_ + g.hiddenSectors),
          stream_(frame.state()),
          progress_(frame.host(), frame.request(), WriterProgressText(frame.request())),
          label_(VolumeLabelName(frame.host(), label)) {}

    bool Run();

  private:
    void Log(std::u16string_view key, std::u16string_view value) const {
        log_.WriteIn(kSection, key, value);
    }
    void Advance() { progress_.Update(stream_.written(), g_.ProgressTotal()); }
    bool One(std::uint64_t lba, const SectorImage& s, std::uint8_t code, const char16_t* what) {
        if (!stream_.WriteOne(lba, s)) {
            if (what != nullptr) {
                Log(what, kFailed);
            }
            frame_.Fail(code);
            return false;
        }
        Advance();
        return true;
    }
    bool Zeros(std::uint64_t lba, std::uint64_t count, const SectorImage* first = nullptr) {
        if (!stream_.WriteZeros(lba, count, first, [this] { Advance(); })) {
            frame_.Fail(kErrFormatFailed);
            return false;
        }
        return true;
    }

    ExportFrame& frame_;
    const DiagnosticLog& log_;
    const Fat32Layout& g_;
    std::uint64_t base_;
    std::uint64_t boot_;
    SectorStream stream_;
    ProgressReporter progress_;
    std::optional<LabelName> label_;
};

bool Fat32Writer::Run() {
    const SectorImage mbr = Fat32MasterBootRecord(g_);
    const SectorImage boot = Fat32BootSector(g_, MakeVolumeSerial(frame_.host()), label_);
    const SectorImage info = Fat32FsInfo();
    const SectorImage third = Fat32ThirdSector();
    const SectorImage fat = FirstFatSector(FatKind::kFat32);
    const SectorImage root = RootDirectorySector(label_);
    const std::uint64_t fatSize = g_.fatSectors;

    const bool mbrOk = stream_.WriteOne(base_, mbr);
    Log(u"Writing MBR of Filesystem Data", mbrOk ? kPassed : kFailed);
    if (!mbrOk) {
        frame_.Fail(kErrMbrNotWritten);
        return false;
    }
    Advance();
    if (!Zeros(base_ + 1, g_.hiddenSectors - 1)) {
        return false;
    }
    const bool bootOk = One(boot_, boot, kErrBootNotWritten, nullptr);
    Log(u"Writing DBR1 of Filesystem Data", bootOk ? kPassed : kFailed);
    if (!bootOk || !One(boot_ + 1, info, kErrBootNotWritten, u"Writing DBR2 of Filesystem Data") ||
        !One(boot_ + 2, third, kErrBootNotWritten, u"Writing DBR3 of Filesystem Data") ||
        !Zeros(boot_ + 3, kBackupBoot - 3) ||
        !One(boot_ + kBackupBoot, boot, kErrBootNotWritten,
             u"Writing DBR1 Backup of Filesystem Data") ||
        !One(boot_ + kBackupBoot + 1, info, kErrBootNotWritten,
             u"Writing DBR2 Backup of Filesystem Data") ||
        !One(boot_ + kBackupBoot + 2, third, kErrBootNotWritten,
             u"Writing DBR3 Backup of Filesystem Data") ||
        !Zeros(boot_ + kBackupBoot + 3, Fat32Layout::kReservedSectors - kBackupBoot - 3)) {
        return false;
    }
    const std::uint64_t fat1 = boot_ + Fat32Layout::kReservedSectors;
    const std::uint64_t fat2 = fat1 + fatSize;
    if (!One(fat1, fat, kErrFatNotWritten, u"Writing FAT1 of Filesystem Data") ||
        !Zeros(fat1 + 1, fatSize - 1) ||
        !One(fat2, fat, kErrFatNotWritten, u"Writing FAT2 of Filesystem Data") ||
        !Zeros(fat2 + 1, fatSize - 1)) {
        return false;
    }
    // The root directory cluster and what follows it, as much as one FAT's worth.
    const std::uint64_t data = fat2 + fatSize;
    const std::uint64_t dataCount = fatSize % kBlockSectors == 0 ? fatSize : fatSize - 1;
    if (!Zeros(data, dataCount, &root)) {
        return false;
    }
    progress_.Report(100);
    return true;
}

}  // namespace

int OnWriteFAT32HDDSecFS(ExportFrame& frame, const PartitionPlan& plan, std::u16string_view label) {
    const DiagnosticLog& log = frame.log();
    DeviceState& state = frame.state();
    if (!plan.fat32) {
        frame.Fail(kErrFormatFailed);
        return 0;
    }
    if (state.osType == kOsNt5OrLater) {
        const bool present = !LacksDriveHandle(state);
        log.WriteIn(kSection, present ? u"DRVHANDLE present" : u"DRVHANDLE not present",
                    present ? kPass : kFail);
        if (!present) {
            frame.Fail(kErrNoDriveHandle);
            return 0;
        }
    }
    log.WriteIn(kSection, u"No.of Sectors for Secure Partition",
                FormatText("0x%x", plan.fat32->partitionSectors));
    Fat32Writer writer(frame, plan, *plan.fat32, label);
    const bool ok = writer.Run();
    log.WriteIn(kSection, u"Writing FileSystem Data to Secure Partition",
                ok ? u"Completed Successfully" : kFailed);
    return ok ? 1 : 0;
}

}  // namespace kvx::media
