// Whole export calls against a device whose answers come from the input (fuzz_machine.h): the
// record's fields, then up to three exports, each pass-through answered by the next record.
#include <cstring>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "frame/device_state.h"
#include "frame/qda.h"
#include "fuzz/fuzz_machine.h"
#include "host/text.h"

namespace kvx::fuzz {
namespace {

enum class Export : std::uint8_t {
    kCheckCd,
    kCheckSec,
    kChipNum,
    kEject,
    kPasswordStatus,
    kCapacity,
    kAuth,
    kLaunch,
    kHidden,
    kDirect,
    kChangePassword,
    kFormat,
    kUpdateCd,
    kCdFlag,
    kMaxValue = kCdFlag
};

void Call(Export which, QdaRequest& request, FuzzMachine& m, FuzzedDataProvider& in) {
    // Sector exports get a buffer of exactly what the record asks for.
    std::vector<std::uint8_t> sectors(std::size_t{request.sectorCount} * kSectorSize);
    switch (which) {
        case Export::kCheckCd:
            QDACheckCD(&request);
            break;
        case Export::kCheckSec:
            QDACheckSEC(&request);
            break;
        case Export::kChipNum: {
            std::uint16_t chip[5] = {};
            QDAGetChipNum(&request, chip);
            break;
        }
        case Export::kEject:
            QDAEjectSec(&request);
            break;
        case Export::kPasswordStatus:
            QDAGetPasswordStatus(&request);
            break;
        case Export::kCapacity:
            QDAGetDeviceCapacity(&request);
            break;
        case Export::kAuth:
            QDASHA2Auth(&request);
            break;
        case Export::kLaunch:
            QDALaunchSec(&request);
            break;
        case Export::kHidden:
            QDAHiddenPartRdWr(&request, sectors.data());
            break;
        case Export::kDirect:
            QDARdWrDirect(&request, sectors.data());
            break;
        case Export::kChangePassword:
            QDAChangePassWord(&request);
            break;
        case Export::kFormat:
            QDAFormatHDD(&request);
            break;
        case Export::kUpdateCd: {
            // The new image's bytes come from the input; both files stay in the scratch folder.
            const auto image = m.program.path() / "new.iso";
            const std::string bytes = in.ConsumeRandomLengthString(4 * kCdBlockSize);
            std::ofstream(image, std::ios::binary | std::ios::trunc) << bytes;
            QdaImageRequest images;
            std::memset(&images, 0, sizeof images);
            WriteFixedUtf16(m.program.File("new.iso"), images.imagePath,
                            std::extent_v<decltype(images.imagePath)>);
            WriteFixedUtf16(m.program.File("backup.iso"), images.backupPath,
                            std::extent_v<decltype(images.backupPath)>);
            images.stampImage = in.ConsumeBool() ? 1 : 0;
            QDAUpdateCDPart(&request, &images);
            break;
        }
        case Export::kCdFlag:
            QDAWriteCDFormatFlag(&request);
            break;
    }
}

}  // namespace
}  // namespace kvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    using namespace kvx::fuzz;
    static FuzzMachine hardDisk(sim::Media::kHdd, true);
    static FuzzMachine flash(sim::Media::kFlash, true);
    FuzzedDataProvider in(data, size);
    FuzzMachine& m = in.ConsumeBool() ? flash : hardDisk;
    m.Restore();
    ResetDeviceState();
    AnsweringHost host(*m.host, in);
    ScopedHostOverride use(host);

    // The record as a caller might fill it, with the paths and windows that reach outside the
    // process pinned: no log, no progress controls.
    QdaRequest request;
    std::memset(&request, 0, sizeof request);
    const std::vector<std::uint8_t> fields = in.ConsumeBytes<std::uint8_t>(sizeof request);
    if (!fields.empty()) {
        std::memcpy(&request, fields.data(), fields.size());
    }
    std::memset(request.logPath, 0, sizeof request.logPath);
    request.progressDialog = request.progressBar = request.progressPercent =
        request.progressStatus = 0;
    // Most inputs use the device's own letters; some keep whatever the bytes said.
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0) {
        request.driveLetter = static_cast<std::uint8_t>(in.ConsumeBool() ? 'E' : 'F');
    }
    // Sector counts stay within what a caller's buffer could be (a read of 64 KiB at most).
    request.sectorCount = static_cast<std::uint16_t>(request.sectorCount % 129);

    for (int calls = 0; calls < 3 && in.remaining_bytes() > 0; ++calls) {
        Call(in.ConsumeEnum<Export>(), request, m, in);
    }
    ResetDeviceState();
    return 0;
}
