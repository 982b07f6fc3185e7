#include "host/linux/sg_io.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace kvx::linux_host {
namespace {

// Host and driver status values of the SCSI midlayer that user space headers do not carry.
constexpr unsigned short kHostOk = 0;               // DID_OK
constexpr unsigned short kDriverStatusMask = 0x0F;  // the driver byte without its suggestion
constexpr unsigned short kDriverSense = 0x08;       // DRIVER_SENSE: sense data came back
constexpr unsigned short kHostNoConnect = 0x01;     // DID_NO_CONNECT
constexpr unsigned short kHostTimeOut = 0x03;       // DID_TIME_OUT
constexpr unsigned short kDriverTimeOut = 0x06;     // DRIVER_TIMEOUT
constexpr unsigned kMillisecondsPerSecond = 1000;

class Kernel final : public SgIoTransport {
  public:
    int Submit(const std::filesystem::path&, int fd, sg_io_hdr_t& request) override {
        int result = 0;
        do {
            result = ::ioctl(fd, SG_IO, &request);
        } while (result < 0 && errno == EINTR);
        return result;
    }
};

std::uint32_t TransportError(const sg_io_hdr_t& request) {
    if (request.host_status == kHostNoConnect) {
        return kErrorDeviceNotConnected;
    }
    if (request.host_status == kHostTimeOut ||
        (request.driver_status & kDriverStatusMask) == kDriverTimeOut) {
        return kErrorSemTimeout;
    }
    return kErrorIoDevice;
}

}  // namespace

SgIoTransport& KernelSgIo() {
    static Kernel kernel;
    return kernel;
}

sg_io_hdr_t BuildSgIoRequest(const ScsiCommand& command, std::uint8_t* sense) {
    sg_io_hdr_t request{};
    request.interface_id = 'S';
    request.cmd_len = static_cast<unsigned char>(command.cdb.size());
    // The kernel only reads the command block.
    request.cmdp = const_cast<unsigned char*>(command.cdb.data());
    request.mx_sb_len = static_cast<unsigned char>(kSenseLength);
    request.sbp = sense;
    request.timeout = command.timeoutSeconds * kMillisecondsPerSecond;
    switch (command.direction) {
        case DataDirection::kIn:
            request.dxfer_direction = SG_DXFER_FROM_DEV;
            std::fill(command.data.begin(), command.data.end(), std::uint8_t{0});
            break;
        case DataDirection::kOut:
            request.dxfer_direction = SG_DXFER_TO_DEV;
            break;
        case DataDirection::kNone:
            request.dxfer_direction = SG_DXFER_NONE;
            break;
    }
    if (command.direction != DataDirection::kNone) {
        request.dxferp = command.data.data();
        request.dxfer_len = static_cast<unsigned>(command.data.size());
    }
    return request;
}

ScsiOutcome SgIoOutcome(int result, int error, const sg_io_hdr_t& request,
                        const ScsiCommand& command) {
    ScsiOutcome outcome;
    const std::span<std::uint8_t> dataIn =
        command.direction == DataDirection::kIn ? command.data : std::span<std::uint8_t>{};
    const unsigned short driver = request.driver_status & kDriverStatusMask;
    if (result != 0 || request.host_status != kHostOk || (driver != 0 && driver != kDriverSense)) {
        // Nothing usable came back: no status, no sense, no data.
        outcome.osError = result != 0 ? DeviceErrorFromErrno(error) : TransportError(request);
        std::fill(dataIn.begin(), dataIn.end(), std::uint8_t{0});
        return outcome;
    }
    outcome.sent = true;
    outcome.scsiStatus = request.status;
    const std::size_t senseBytes = std::min<std::size_t>(
        request.sb_len_wr, std::min<std::size_t>(request.mx_sb_len, kSenseLength));
    std::memcpy(outcome.sense, request.sbp, senseBytes);
    const long long moved =
        static_cast<long long>(request.dxfer_len) - static_cast<long long>(request.resid);
    outcome.transferred = static_cast<std::uint32_t>(
        std::clamp<long long>(moved, 0, static_cast<long long>(request.dxfer_len)));
    return outcome;
}

std::uint32_t DeviceErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return kErrorFileNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrorAccessDenied;
        case EBUSY:
            return kErrorSharingViolation;
        case ENOMEDIUM:
            return kErrorNotReady;
        case EINVAL:
        case ENOTTY:
            return kErrorInvalidParameter;
        default:
            return kErrorIoDevice;
    }
}

}  // namespace kvx::linux_host
