// Password status and capacity of the device.
#include <cstring>
#include <utility>

#include "discovery/identify.h"
#include "frame/export_frame.h"
#include "frame/qda.h"
#include "frame/request_text.h"
#include "security/data_block.h"
#include "security/hdd_info.h"
#include "transport/direction.h"
#include "transport/vendor.h"

namespace kvx {

std::optional<std::uint8_t> QueryVerifyCount(DeviceState& state) {
    VendorCdb cdb(kVendorAuthenticate);
    cdb.bytes[2] = 4;
    cdb.bytes[8] = 1;
    std::uint8_t count = 0;
    if (!SendVendor(state, cdb, &count, 1, kDirIn)) {
        return std::nullopt;
    }
    return count;
}

}  // namespace kvx

using namespace kvx;

KVX_API int KVX_CALL QDAGetPasswordStatus(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAGetPasswordStatus()");
    if (!frame.Enter(&IdentifyDevice)) {
        return frame.Finish(false, &EndSession);
    }
    const DiagnosticLog& log = frame.log();
    DeviceState& state = frame.state();
    request->passwordSupported = 0;
    request->deviceDisabled = 0;
    log.Write(u"Issue PASSTHRU_GET_DEV_CAPS", u"0x80");
    const std::optional<std::uint32_t> caps = ReadCapabilities(state);
    if (!caps) {
        frame.Fail(kErrCapsFailed);
        log.Write(u"PASSTHRU_GET_DEV_CAPS command failed", kFail);
        return frame.Finish(false, &EndSession);
    }
    request->mediaType = (*caps & kCapFlash) != 0 ? kMediaFlash : kMediaHardDisk;
    if ((*caps & kCapPasswordOn) != 0) {
        request->passwordSupported = 1;
        log.Write(u"Password Support in device", kPass);
    }
    if ((*caps & kCapOpen) != 0) {
        request->deviceDisabled = 1;
        log.Write(u"Device Enabled/Disabled status", u"DISABLED");
    }
    log.Write(u"Issue PASSTHRU_AUTHENTICATE", u"Verify Count");
    const std::optional<std::uint8_t> count = QueryVerifyCount(state);
    if (!count) {
        log.Write(u"Issue PASSTHRU_AUTHENTICATE", kFail);
        frame.Fail(kErrVerifyCount);
        return frame.Finish(false, &EndSession);
    }
    request->verifyCount = *count;
    return frame.Finish(true, &EndSession);
}

KVX_API int KVX_CALL QDAGetDeviceCapacity(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAGetDeviceCapacity()");
    if (!frame.Begin()) {
        return frame.Finish(false);
    }
    const DiagnosticLog& log = frame.log();
    log.Write(FormatText("%s %c:", "Checking Drvletter", static_cast<char>(request->driveLetter)),
              kTest);
    if (!frame.CheckDrive(&IdentifyDevice)) {
        return frame.Finish(false);
    }
    DeviceState& state = frame.state();
    MediumInfo medium;
    const bool sized = GetHddInfo(state, log, request->errorCode, medium);
    request->mediaType = medium.mediaType;
    if (!sized) {
        frame.Fail(kErrNoCapacity);
        log.Write(FormatText("%s%s", "Calling", "qdaGetHDDInfo()"), kFail);
        return frame.Finish(false);
    }
    request->mediumSizeMb = medium.sizeMb;
    BlockRegion region;
    if (!LocateDataBlock(state, medium, region, request->errorCode)) {
        return frame.Finish(false);
    }
    if (!region.index) {
        return frame.Finish(true);
    }
    const std::span<const std::uint8_t> b = std::as_const(region).Block();
    request->cdSizeMb = static_cast<std::uint32_t>(std::uint64_t{ReadBe32(b, block::kCdSectors)} *
                                                   kCdBlockSize / kBytesPerMb);
    request->secureSizeMb = ReadBe32(b, block::kFirstSize) / kSectorsPerMb;
    request->secondSizeMb = ReadBe32(b, block::kSecondSize) / kSectorsPerMb;
    request->spareCdMb = ReadBe16(b, block::kSpareCdMb);
    const std::optional<std::uint32_t> caps = ReadCapabilities(state);
    if (!caps) {
        frame.Fail(kErrCapsFailed);
        log.Write(u"PASSTHRU_GET_DEV_CAPS command failed", kFail);
        return frame.Finish(false);
    }
    const bool password = (*caps & kCapPasswordOn) != 0;
    request->passwordSupported = password ? 1 : 0;
    log.Write(u"Password Support in device", password ? kPass : kFail);
    return frame.Finish(true);
}
