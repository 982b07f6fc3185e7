// The terminal view's key decoder over any bytes: every call must take at least one byte while
// bytes remain, or the program would spin on a stuck sequence.
#include <cstdint>
#include <cstdlib>

#include "common/terminal_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx::ui;
    std::size_t at = 0;
    const ByteReader read = [&](int) -> std::optional<int> {
        if (at >= size) {
            return std::nullopt;
        }
        return data[at++];
    };
    while (at < size) {
        const std::size_t before = at;
        const KeyInput key = DecodeKey(read, 0);
        if (at == before) {
            std::abort();  // no progress: the decoder would be called for ever
        }
        // A typed character or an Alt letter is exactly one UTF-16 character or pair.
        if ((key.key == Key::kChar || key.key == Key::kAlt) &&
            (key.text.empty() || key.text.size() > 2)) {
            std::abort();
        }
    }
    return 0;
}
