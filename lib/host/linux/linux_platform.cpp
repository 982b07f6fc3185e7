// The platform host of Linux: the Linux host over the POSIX services, with the roots the
// environment names and the kernel's SG_IO.
#include "host/linux/linux_host.h"
#include "host/platform_host.h"
#include "host/posix/posix_host.h"

namespace kvx {

std::unique_ptr<Host> MakePlatformHost() {
    static const std::unique_ptr<Host> posix = MakePosixHost();
    return linux_host::MakeLinuxHost(*posix, linux_host::Roots::FromEnvironment(),
                                     linux_host::KernelSgIo());
}

}  // namespace kvx
