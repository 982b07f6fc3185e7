// The emulator's state, machine and fault files as a user may have edited them: every text is
// refused with a message or parsed into values that format back to text that parses the same.
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/bridge/bridge_state.h"
#include "sim/bridge/fault_plan.h"
#include "sim/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx::sim;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string error;
    if (const auto state = ParseState(text, &error)) {
        (void)CheckState(*state);
        const std::string again = FormatState(*state);
        std::string error2;
        const auto reparsed = ParseState(again, &error2);
        if (!reparsed || FormatState(*reparsed) != again) {
            std::abort();  // what the emulator writes it must read back
        }
    } else if (error.empty()) {
        std::abort();  // a refusal always says why
    }

    error.clear();
    if (const auto machine = ParseMachine(text, &error)) {
        const std::string again = FormatMachine(*machine);
        const auto reparsed = ParseMachine(again, nullptr);
        if (!reparsed || FormatMachine(*reparsed) != again) {
            std::abort();
        }
    } else if (error.empty()) {
        std::abort();
    }

    if (const auto fault = ParseFault(text)) {
        const auto reparsed = ParseFault(FormatFault(*fault));
        if (!reparsed || FormatFault(*reparsed) != FormatFault(*fault)) {
            std::abort();
        }
    }
    return 0;
}
