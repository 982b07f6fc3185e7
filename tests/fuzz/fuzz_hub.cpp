// The hub scan of a user who may not open the drive: host-controller, hub, connection, device,
// configuration and string descriptor answers altered or invented by the input, then the device
// check and a status query that go through the side channel the scan found.
#include <cstring>

#include "frame/device_state.h"
#include "frame/qda.h"
#include "fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    using namespace kvx::fuzz;
    static FuzzMachine machine(sim::Media::kHdd, false);
    FuzzedDataProvider in(data, size);
    machine.Restore();
    ResetDeviceState();
    AnsweringHost host(*machine.host, in, false);
    ScopedHostOverride use(host);

    QdaRequest request;
    std::memset(&request, 0, sizeof request);
    request.driveLetter = 'E';
    if (QDACheckCD(&request) == 1) {
        request.driveLetter = in.ConsumeBool() ? 'E' : 'F';
        QDAGetPasswordStatus(&request);
    }
    ResetDeviceState();
    return 0;
}
