#include "frame/device_state.h"

#include "crypto/wipe.h"
#include "frame/os_type.h"

namespace kvx {
namespace {

DeviceState& Instance() {
    static DeviceState state = [] {
        DeviceState s;
        GetOsType(s);
        return s;
    }();
    return state;
}

}  // namespace

DeviceState& GlobalDeviceState() {
    return Instance();
}

bool LacksDriveHandle(const DeviceState& state) {
    return state.osType == kOsNt5OrLater && state.drive == kInvalidHandle;
}

void ResetDeviceState() {
    DeviceState& state = Instance();
    if (state.drive != kInvalidHandle) {
        state.host().Close(state.drive);
    }
    SecureWipe(state.sessionKey, sizeof state.sessionKey);
    SecureWipe(state.uniqueId, sizeof state.uniqueId);
    state = DeviceState{};
    GetOsType(state);
}

}  // namespace kvx
