// QDAFormatHDD: erases the secure partition and lays a fresh file system on it. It loads the
// password data block, checks where the partition goes, programs the bridge's AES engine with
// the partition key and IV the block carries, and hands the medium to one of the layout writers.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "crypto/wipe.h"
#include "discovery/identify.h"
#include "frame/config.h"
#include "frame/errors.h"
#include "frame/os_type.h"
#include "frame/qda.h"
#include "frame/request_text.h"
#include "media/progress.h"
#include "media/sector_stream.h"
#include "media/writers.h"
#include "security/data_block.h"
#include "security/hdd_info.h"
#include "transport/direction.h"
#include "transport/vendor.h"

namespace kvx::media {
namespace {

constexpr std::size_t kLabelChars = 50;
constexpr std::uint8_t kStoreWithUnlock = 4;
constexpr std::uint8_t kPublicLabelMode = 1;

std::u16string ReadLabel(Host& host, const QdaRequest& request) {
    const bool publicLabel = request.passwordSupported != 0 && request.changeOp == kPublicLabelMode;
    return Config(host).Read(
        kVendorSection, publicLabel ? u"Public Volume Label" : u"Secure Volume Label", kLabelChars);
}

bool AesCommand(DeviceState& state, std::uint8_t sub, std::uint8_t byte2, std::uint8_t byte3,
                std::uint8_t* data, std::uint32_t length, std::uint8_t direction) {
    VendorCdb cdb(sub);
    cdb.bytes[2] = byte2;
    cdb.bytes[3] = byte3;
    return SendVendor(state, cdb, data, length, direction).accepted;
}

// Engine off and on again, key, secure-partition enable, IV. False with the step's code.
bool ProgramEngine(ExportFrame& frame, const MediumInfo& medium,
                   std::span<const std::uint8_t> dataBlock) {
    DeviceState& state = frame.state();
    const DiagnosticLog& log = frame.log();
    const std::uint8_t hardDisk = medium.IsHardDisk() ? 1 : 0;
    std::uint8_t answer[2];
    for (std::uint8_t on = 0; on <= 1; ++on) {
        if (!AesCommand(state, kVendorAesEnable, on, hardDisk, answer, sizeof answer, kDirIn)) {
            log.Write(u"AES Command Enable", kFail);
            frame.Fail(kErrAesEnable);
            return false;
        }
    }
    log.Write(u"AES Command Enable", kPass);

    std::uint8_t key[block::kUnlockLength];
    for (std::size_t i = 0; i < sizeof key; ++i) {
        key[i] = dataBlock[block::kUnlock + block::kUnlockLength - 1 - i];
    }
    const bool keyOk = AesCommand(state, kVendorAesSetKey, sizeof key, 0, key, sizeof key, kDirOut);
    SecureWipe(key, sizeof key);
    if (!keyOk) {
        log.Write(u"SET KEY using PASSTHRU_AES_SET_KEY", kFail);
        frame.Fail(kErrKeyOrIv);
        return false;
    }

    if (!AesCommand(state, kVendorSecAesEnable, 1, 0, answer, sizeof answer, kDirIn)) {
        log.WriteIn(u"QDAFormatHDD", u"Sec AES Command Enable", kFail);
        frame.Fail(kErrSecAesEnable);
        return false;
    }
    log.WriteIn(u"QDAFormatHDD", u"Sec AES Command Enable", kPass);

    // Flash: the 12-byte identifier as stored. Hard disks: identifier bytes 11 down to 0, then
    // bytes 12 to 15 in their stored order, so all sixteen key bytes of the identifier count.
    std::uint8_t iv[16] = {};
    std::uint8_t ivLength = 12;
    if (medium.IsHardDisk()) {
        ivLength = 16;
        for (std::size_t i = 0; i < 12; ++i) {
            iv[i] = state.uniqueId[11 - i];
        }
        std::memcpy(iv + 12, state.uniqueId + 12, 4);
    } else {
        std::memcpy(iv, state.uniqueId, 12);
    }
    const bool ivOk = AesCommand(state, kVendorAesSetIv, ivLength, 0, iv, ivLength, kDirOut);
    SecureWipe(iv, sizeof iv);
    if (!ivOk) {
        log.Write(u"SET IV using PASSTHRU_AES_SET_IV", kFail);
        frame.Fail(kErrKeyOrIv);
        return false;
    }
    log.Write(u"SET IV using PASSTHRU_AES_SET_IV", kPass);
    log.Write(FormatText("%s%s", "Calling", "QDAFormatHDD()"), kPass);
    return true;
}

// The format step flag a flash medium gets after a format on NT systems.
void SendFormatStep(DeviceState& state) {
    if (LacksDriveHandle(state)) {
        return;
    }
    std::uint8_t answer[2];
    (void)SendVendor(state, VendorCdb(kVendorFormatStepSet), answer, sizeof answer, kDirIn);
}

bool Format(ExportFrame& frame, MediumInfo& medium) {
    QdaRequest& request = frame.request();
    DeviceState& state = frame.state();
    Host& host = frame.host();
    const DiagnosticLog& log = frame.log();

    const std::u16string label = ReadLabel(host, request);
    log.Write(u"Volume Label for Secure Drive", label);
    log.Write(u"Going to call OnCheckDrvLet", kPass);
    if (!frame.CheckDrive(&IdentifyDevice)) {
        return false;
    }
    log.WriteIn(u"qdaGetHDDInfo()", u"Going to call qdaGetHDDInfo", kPass);
    if (!GetHddInfo(state, log, request.errorCode, medium)) {
        log.WriteIn(u"qdaGetHDDInfo()", u"Result of qdaGetHDDInfo()", kFail);
        frame.Fail(kErrNoCapacity);
        return false;
    }
    request.mediaType = medium.mediaType;
    request.mediumSizeMb = medium.sizeMb;

    BlockRegion region;
    if (!LocateDataBlock(state, medium, region, request.errorCode)) {
        return false;
    }
    if (!region.index) {
        // Without the block there is neither a partition key nor a partition address.
        frame.Fail(kErrBlockNotRead);
        return false;
    }
    // Read only from here on; the region wipes itself when it goes.
    const std::span<const std::uint8_t> dataBlock = std::as_const(region).Block();
    if (!medium.IsHardDisk() && medium.aesEngine) {
        std::fill(std::begin(state.uniqueId), std::end(state.uniqueId), std::uint8_t{0});
        std::copy_n(dataBlock.begin() + block::kFlashId, block::kFlashIdLength, state.uniqueId);
    }

    // Every size check comes before the first write.
    const std::optional<PartitionPlan> plan =
        PlanSecurePartition(state, request, medium, dataBlock);
    if (!plan) {
        log.Write(u"Secure partition size", kFail);
        frame.Fail(kErrFormatFailed);
        return false;
    }
    // Hub mode has no drive handle and the writers refuse it: refuse before the engine takes a
    // key or anything is erased.
    if (LacksDriveHandle(state)) {
        log.Write(u"DRVHANDLE not present", kFail);
        frame.Fail(kErrNoDriveHandle);
        return false;
    }
    if (medium.aesEngine && !ProgramEngine(frame, medium, dataBlock)) {
        return false;
    }
    // Without an engine a new key cannot hide the old partition: a reset erases it instead.
    if (!medium.aesEngine && request.changeOp == kStoreWithUnlock &&
        !ZeroFill(frame, plan->base, plan->sectors,
                  request.passwordSupported != 0 ? u"Erasing the Secure partition..."
                                                 : u"Erasing the Public partition...")) {
        return false;
    }

    const bool fat16 = plan->fat16.has_value();
    const char16_t* writer = fat16 ? u"OnWriteFAT16FlashSecFS()" : u"OnWriteFAT32HDDSecFS()";
    log.Write(u"Calling" + std::u16string(writer), kPass);
    const int written = fat16 ? OnWriteFAT16FlashSecFS(frame, *plan, label)
                              : OnWriteFAT32HDDSecFS(frame, *plan, label);
    if (written == 0) {
        frame.Fail(kErrFormatFailed);
        log.Write(writer, kFail);
        return false;
    }
    return true;
}

}  // namespace

bool ZeroFill(ExportFrame& frame, std::uint64_t start, std::uint64_t count,
              std::u16string progressText) {
    SectorStream stream(frame.state());
    ProgressReporter progress(frame.host(), frame.request(), std::move(progressText));
    progress.Report(0);
    if (!stream.WriteZeros(start, count, nullptr,
                           [&] { progress.Update(stream.written(), count); })) {
        frame.log().Write(u"Erasing the Secure partition", kFail);
        frame.Fail(kErrFormatFailed);
        return false;
    }
    progress.Report(100);
    return true;
}

}  // namespace kvx::media

using namespace kvx;

KVX_API int KVX_CALL QDAFormatHDD(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAFormatHDD()");
    bool ok = frame.Begin();
    MediumInfo medium;
    if (ok) {
        ok = media::Format(frame, medium);
    }
    DeviceState& state = frame.state();
    if (ok && !medium.IsHardDisk() && medium.mediaType != 0 && state.osType == kOsNt5OrLater) {
        media::SendFormatStep(state);
    }
    return frame.Finish(ok, &EndSession);
}
