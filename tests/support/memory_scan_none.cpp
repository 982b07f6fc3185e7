// Hosts without /proc/self/mem: the scan is not available.
#ifndef __linux__

#include "support/memory_scan.h"

namespace kvx::test {

bool MemoryScanSupported() {
    return false;
}

void ScanWritableMemory(const MaskedNeedles&, ScanReport& report) {
    report.total = 0;
    report.recorded = 0;
    report.bytesScanned = 0;
    report.bytesUnreadable = 0;
}

}  // namespace kvx::test

#endif
