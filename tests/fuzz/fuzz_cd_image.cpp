// The stamp record a device keeps in its hidden area, and the stamp written into a new CD image
// split into pieces anywhere.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "media/image_stamp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    using namespace kvx::media;
    FuzzedDataProvider in(data, size);
    std::array<std::uint8_t, 16> key{};
    const auto keyBytes = in.ConsumeBytes<std::uint8_t>(key.size());
    std::copy(keyBytes.begin(), keyBytes.end(), key.begin());
    std::vector<std::uint8_t> record = in.ConsumeBytes<std::uint8_t>(
        in.ConsumeIntegralInRange<std::size_t>(0, stamp_record::kMaxLength + kSectorSize));
    const std::optional<ImageStamp> stamp = ParseStampRecord(record, key);

    // The image: pieces of random sizes, the stamp (or a fixed one) written after its marker.
    ImageStamp value{};
    if (stamp) {
        value = *stamp;
    }
    StampWriter writer(value);
    std::vector<std::uint8_t> image = in.ConsumeRemainingBytes<std::uint8_t>();
    const std::vector<std::uint8_t> original = image;
    std::size_t at = 0;
    std::size_t step = 1;
    while (at < image.size()) {
        const std::size_t n = std::min(step, image.size() - at);
        writer.Apply(std::span<std::uint8_t>(image.data() + at, n));
        at += n;
        step = step * 3 % 97 + 1;
    }
    // Outside the stamp's bytes nothing changes.
    std::size_t changed = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
        changed += image[i] != original[i] ? 1 : 0;
    }
    if (changed > value.size() || (!writer.found() && changed != 0)) {
        std::abort();
    }
    return 0;
}
