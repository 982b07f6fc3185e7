// The host of Linux without the emulator: the POSIX services of `inner` for files, profile
// strings and the rest, and real devices for everything storage:
//   "\\.\X:"              the USB unit with that letter (sysfs_units.h), its block node opened
//   "\\.\PhysicalDriveN"  the N-th disk of the disk list
//   pass-through          SG_IO on the node (sg_io.h)
//   lock / unlock         an exclusive open of the node (refused while a partition is mounted)
//   dismount              unmount of the unit's mounted partitions (/proc/self/mountinfo)
//   partitions            BLKGETSIZE64, the table in sector 0, BLKRRPART
//   registry              mount texts, USB and USBSTOR keys and the disk list of the same units
// The system reports NT 10.0 workstation so that the library takes its pass-through paths. There
// are no USB host controllers to walk: the hub side channel is unavailable.
#pragma once

#include <memory>

#include "host/host.h"
#include "host/linux/sg_io.h"
#include "host/linux/sysfs_units.h"

namespace kvx::linux_host {

// `inner` and `transport` outlive the host.
std::unique_ptr<Host> MakeLinuxHost(Host& inner, Roots roots, SgIoTransport& transport);

}  // namespace kvx::linux_host
