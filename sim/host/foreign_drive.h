// The machine's own drives (system disk, DVD drive): what they answer to a program that probes
// them while looking for the device.
#pragma once

#include "host/host.h"

namespace kvx::sim {

// INQUIRY (data in) and TEST UNIT READY succeed; every other command, and an empty CDB, ends in
// CHECK CONDITION with "invalid command operation code".
ScsiOutcome ForeignDriveCommand(DriveType type, const ScsiCommand& command);

// The bus a drive of `type` sits on: ATAPI for a CD-ROM, ATA otherwise.
StorageBus ForeignDriveBus(DriveType type);

// The one partition every own drive reports.
PartitionInfo ForeignDrivePartition();

}  // namespace kvx::sim
