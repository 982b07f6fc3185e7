// The portable Windows-1252 conversion against the system's own code page 1252.
#ifdef _WIN32

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "host/codepage.h"

namespace kvx {
namespace {

TEST(Cp1252WineOracle, EveryByteDecodesAsTheSystemDoes) {
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        wchar_t wide = 0;
        ASSERT_EQ(MultiByteToWideChar(1252, 0, &byte, 1, &wide, 1), 1);
        EXPECT_EQ(FromCp1252(std::string(1, byte)), std::u16string(1, char16_t{wide}))
            << "byte " << b;
    }
}

// Without best fit, as the portable conversion does: what the code page lacks becomes '?'.
TEST(Cp1252WineOracle, EveryBmpCharacterEncodesAsTheSystemDoes) {
    int mismatches = 0;
    for (unsigned c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        const wchar_t wide = static_cast<wchar_t>(c);
        char byte = 0;
        ASSERT_EQ(WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, &wide, 1, &byte, 1, "?", nullptr),
                  1);
        if (ToCp1252(std::u16string(1, static_cast<char16_t>(c))) != std::string(1, byte)) {
            ADD_FAILURE() << "U+" << std::hex << c << " system byte "
                          << static_cast<int>(static_cast<unsigned char>(byte));
            if (++mismatches > 10) {
                return;
            }
        }
    }
}

}  // namespace
}  // namespace kvx

#endif  // _WIN32
