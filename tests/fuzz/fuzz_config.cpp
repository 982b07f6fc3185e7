// The configuration file as the library and the programs read it: any bytes as the file, then
// reads of the keys the library uses and a write that must keep the file readable.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "host/profile_ini.h"
#include "support/test_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    static test::ScratchDir dir;
    const auto path = dir.path() / "KVX.INI";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    static const char16_t* const kReads[][2] = {
        {u"VENDOR", u"VENDORSTR0"}, {u"VENDOR", u"PRODUCTSTR0"}, {u"VENDOR", u"VID0"},
        {u"VENDOR", u"PID0"},       {u"VENDOR", u"AES"},         {u"Inq_ChipNum", u"ChipNum0"},
        {u"VENDOR", u"Secure Volume Label"}, {u"", u"x"}};
    for (const auto& [section, key] : kReads) {
        for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{260}}) {
            const std::u16string value = profile::Read(section, key, u"dflt", path, limit);
            if (limit != 0 && value.size() >= limit) {
                std::abort();  // the limit counts the terminator
            }
        }
    }
    (void)profile::DecodeFileText(std::string_view(reinterpret_cast<const char*>(data), size));

    // A write of a known key must read back as written, whatever the file held.
    if (profile::Write(u"VENDOR", u"FuzzKey", u"value 1", path) &&
        profile::Read(u"VENDOR", u"FuzzKey", u"", path, 64) != u"value 1") {
        std::abort();
    }
    return 0;
}
