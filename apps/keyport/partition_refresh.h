// After a login on a hard disk the program itself makes the system take notice of the opened
// secure partition: it finds the device's disks among the physical drives by the identity texts
// and USB numbers of the configuration file and asks the system to re-read them. It never writes
// a drive layout; only disks that match are touched.
#pragma once

#include <cstdint>
#include <string_view>

#include "apps/keyport/session.h"
#include "host/host.h"

namespace kvx::keyport {

// The host-system code chooses the branch: 6, 7 and 10 walk the physical drives; every other
// code (the Windows 9x family, NT 4, unknown) fails at once. Success when the partition
// information of at least one matching disk could be read.
RefreshResult RefreshPartitions(Host& host, std::u16string_view configPath,
                                std::uint8_t hostSystem);

// One configuration entry of the device's identity (section "VENDOR", index n).
struct DiskIdentity {
    std::u16string vid, pid, secVendor, secProduct, product, hdd;
};

// Whether a disk's INQUIRY vendor and product texts match an entry: (the product contains "HDD"
// or the entry's secure product) and the vendor contains the entry's secure vendor; texts are
// compared upper-cased and an empty configuration value matches nothing.
bool IdentityMatches(const DiskIdentity& entry, std::u16string_view vendor,
                     std::u16string_view product);
// Whether the USB numbers of the 46-byte INQUIRY match the entry ("0x%04x" texts contain the
// configured values); zero numbers never match.
bool UsbNumbersMatch(const DiskIdentity& entry, std::uint16_t vendorId, std::uint16_t productId);

}  // namespace kvx::keyport
