// The platform host of POSIX systems other than Linux, which has a host of its own (linux/).
#ifndef __linux__
#include "host/platform_host.h"
#include "host/posix/posix_host.h"

namespace kvx {

std::unique_ptr<Host> MakePlatformHost() {
    return MakePosixHost();
}

}  // namespace kvx
#endif
