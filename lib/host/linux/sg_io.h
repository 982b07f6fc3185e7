// SCSI pass-through on Linux: one SG_IO request (sg_io_hdr, interface 'S') on a unit's block
// node. The one system call sits behind a seam so that tests can hand each request to an
// emulated device instead of the kernel.
#pragma once

#include <scsi/sg.h>

#include <filesystem>

#include "host/host_types.h"

namespace kvx::linux_host {

class SgIoTransport {
  public:
    virtual ~SgIoTransport() = default;
    // Carries out one request on `fd`, the open node `node`; 0 on success, else -1 with errno
    // set, as the ioctl does.
    virtual int Submit(const std::filesystem::path& node, int fd, sg_io_hdr_t& request) = 0;
};

// The kernel's SG_IO ioctl.
SgIoTransport& KernelSgIo();

// Fills an SG_IO request for `command`; the sense buffer is the caller's (kSenseLength bytes).
// A data-in buffer is zeroed first, so that what the device does not fill stays zero.
sg_io_hdr_t BuildSgIoRequest(const ScsiCommand& command, std::uint8_t* sense);

// The outcome of a request the transport carried out (`result`, `error` as Submit left them):
// a refused or failed call, or a host or driver failure, is "not sent" with a system error and no
// data; otherwise status, sense and the bytes moved (the length less the residue).
ScsiOutcome SgIoOutcome(int result, int error, const sg_io_hdr_t& request,
                        const ScsiCommand& command);

// The system error for an errno value of a device open or request.
std::uint32_t DeviceErrorFromErrno(int error);

}  // namespace kvx::linux_host
