// The part of HKEY_LOCAL_MACHINE the emulated Windows keeps about its drives and the devices that
// were plugged in, laid out as Windows lays it out for USB mass storage:
//   SYSTEM\MountedDevices, value "\DosDevices\X:" per drive letter (REG_BINARY, UTF-16LE):
//     a device's CD unit      \??\USBSTOR#CdRom&Ven_V&Prod_P&Rev_R#SERIAL&0#{volume class}
//     its secure unit         \??\USBSTOR#Disk&Ven_..#SERIAL&1#{disk class}
//     a fixed disk            its signature and offset
//   ...\Enum\USB\VID_xxxx&PID_xxxx\SERIAL     "Service" = "USBSTOR"
//   ...\Enum\USBSTOR\CdRom&Ven_..\SERIAL&0    the CD unit ("Service" = "cdrom")
//   ...\Enum\USBSTOR\Disk&Ven_..\SERIAL&1     the secure unit ("Service" = "disk")
//   ...\Services\disk\Enum                  "Count" = disks present; "0", "1", ... their instances
// Key paths and value names compare without letter case. Entries of devices stay when they go
// off the bus, as Windows keeps them; only the disk list follows what is present.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "host/registry_store.h"
#include "sim/bridge/bridge_state.h"
#include "sim/machine.h"

namespace kvx::sim {

class Registry {
  public:
    // `devices[i]` is device i's state; nullopt for one that cannot be read (left out).
    Registry(const MachineConfig& machine, const std::vector<std::optional<BridgeState>>& devices);

    std::optional<RegistryValue> Value(std::u16string_view keyPath,
                                       std::u16string_view valueName) const {
        return store_.Value(keyPath, valueName);
    }
    std::optional<std::vector<std::u16string>> Subkeys(std::u16string_view keyPath) const {
        return store_.Subkeys(keyPath);
    }

  private:
    RegistryStore store_;
};

// A device's unit as the registry names it (the CD unit is LUN 0, the secure unit LUN 1).
UsbStorageUnit StorageUnit(const BridgeState& state, bool cdUnit);

}  // namespace kvx::sim
