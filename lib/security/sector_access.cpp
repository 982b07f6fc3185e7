// Whole-sector transfers for the caller: the hidden-area space located through the data block, and
// the ordinary medium by absolute sector.
#include <cstdint>
#include <utility>

#include "discovery/identify.h"
#include "frame/errors.h"
#include "frame/export_frame.h"
#include "frame/qda.h"
#include "frame/request_text.h"
#include "security/data_block.h"
#include "security/hdd_info.h"
#include "transport/vendor.h"

namespace kvx {
namespace {

// The stamp record lies in the hidden area at total - 33 on hard disks.
constexpr std::uint32_t kStampFromEnd = 33;

// The medium query both exports start with; a failure ends the export with its code.
bool QueryMedium(ExportFrame& frame, MediumInfo& medium) {
    const DiagnosticLog& log = frame.log();
    const std::u16string key = FormatText("%s%s", "Calling", "qdaGetHDDInfo()");
    log.Write(key, kPass);
    if (!GetHddInfo(frame.state(), log, frame.request().errorCode, medium)) {
        log.Write(key, kFail);
        frame.Fail(kErrNoCapacity);
        return false;
    }
    frame.request().mediaType = medium.mediaType;
    return true;
}

// Whether [start, start + count) lies below limit, in 64-bit arithmetic.
bool WithinLimit(std::uint64_t start, std::uint64_t count, std::uint64_t limit) {
    return count <= limit && start <= limit - count;
}

// Whether two sector ranges overlap.
bool Overlaps(std::uint64_t start, std::uint64_t count, std::uint64_t otherStart,
              std::uint64_t otherCount) {
    return start < otherStart + otherCount && otherStart < start + count;
}

bool Transfer(ExportFrame& frame, std::uint32_t lba, bool hidden, std::uint8_t* data) {
    QdaRequest& request = frame.request();
    const bool read = request.writeFlag == 0;
    frame.log().Write(u"Issue PASSTHRU_HIDDEN_RDWR", kPass);
    if (data == nullptr ||
        !ReadWriteSectors(frame.state(), lba, request.sectorCount, hidden, read, data)) {
        frame.log().Write(u"Issue PASSTHRU_HIDDEN_RDWR", kFail);
        frame.Fail(read ? kErrAccessReadFailed : kErrAccessWriteFailed);
        return false;
    }
    return true;
}

}  // namespace
}  // namespace kvx

using namespace kvx;

KVX_API int KVX_CALL QDAHiddenPartRdWr(QdaRequest* request, uint8_t* data) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAHiddenPartRdWr()");
    if (!frame.Enter(&IdentifyDevice)) {
        return frame.Finish(false, &EndSession);
    }
    DeviceState& state = frame.state();
    MediumInfo medium;
    if (!QueryMedium(frame, medium)) {
        return frame.Finish(false, &EndSession);
    }
    BlockRegion region;
    if (!LocateDataBlock(state, medium, region, request->errorCode)) {
        return frame.Finish(false, &EndSession);
    }
    if (!region.index) {
        frame.Fail(kErrBlockNotRead);
        return frame.Finish(false, &EndSession);
    }
    const std::uint32_t base = ReadBe32(std::as_const(region).Block(), block::kHiddenBase);
    if (base == 0) {
        return frame.Finish(false, &EndSession);
    }
    // The hidden-area space runs from its base to the end of the medium; writes never reach the
    // block region or the stamp sector.
    const std::uint64_t start = std::uint64_t{base} + request->startSector;
    const std::uint64_t count = request->sectorCount;
    const RegionPlace place = BlockRegionPlace(medium);
    const bool write = request->writeFlag != 0;
    if (!WithinLimit(start, count, medium.totalSectors) ||
        (write && (Overlaps(start, count, place.start, place.sectors) ||
                   (medium.IsHardDisk() &&
                    Overlaps(start, count, medium.totalSectors - kStampFromEnd, 1))))) {
        frame.Fail(kErrOutOfRange);
        return frame.Finish(false, &EndSession);
    }
    const bool ok = Transfer(frame, static_cast<std::uint32_t>(start), medium.aesEngine, data);
    return frame.Finish(ok, &EndSession);
}

KVX_API int KVX_CALL QDARdWrDirect(QdaRequest* request, uint8_t* data) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDARdWrDirect()");
    if (!frame.Enter(&IdentifyDevice)) {
        return frame.Finish(false);
    }
    MediumInfo medium;
    if (!QueryMedium(frame, medium)) {
        return frame.Finish(false);
    }
    // The first sector past the last whole megabyte is refused whatever the count.
    const std::uint64_t limit = std::uint64_t{medium.sizeMb} * kSectorsPerMb;
    if (request->startSector >= limit ||
        !WithinLimit(request->startSector, request->sectorCount, limit)) {
        frame.Fail(kErrOutOfRange);
        return frame.Finish(false);
    }
    return frame.Finish(Transfer(frame, request->startSector, false, data));
}
