// The password never leaves a trace: not in the diagnostic log, not in any command or data sent
// to the device, and not in heap memory the library freed.
//
// Freed memory is watched by replacing the global allocation functions of this test program:
// while a test arms the watch, every block handed back is searched for the password (in the ANSI
// code page and in UTF-16) before it goes back to the C runtime.
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "crypto/sha256.h"
#include "frame/qda.h"
#include "host/codepage.h"
#include "host/forwarding_host.h"
#include "sim/bridge/commands.h"
#include "support/device_fixture.h"

namespace {

// What the watch looks for; fixed storage, so that the watch itself never allocates.
struct Needles {
    static constexpr std::size_t kMax = 4;
    static constexpr std::size_t kLength = 64;
    unsigned char bytes[kMax][kLength] = {};
    std::size_t length[kMax] = {};
    std::size_t count = 0;
};

Needles g_needles;
std::atomic<bool> g_watching{false};
std::atomic<int> g_found{0};

std::size_t BlockSize(void* p) {
#ifdef _WIN32
    return _msize(p);
#else
    return malloc_usable_size(p);
#endif
}

bool Contains(const unsigned char* hay, std::size_t hayLength, const unsigned char* needle,
              std::size_t needleLength) {
    if (needleLength == 0 || hayLength < needleLength) {
        return false;
    }
    for (std::size_t i = 0; i + needleLength <= hayLength; ++i) {
        if (hay[i] == needle[0] && std::memcmp(hay + i, needle, needleLength) == 0) {
            return true;
        }
    }
    return false;
}

void Inspect(void* p) {
    if (p == nullptr || !g_watching.load(std::memory_order_relaxed)) {
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(p);
    const std::size_t size = BlockSize(p);
    for (std::size_t n = 0; n < g_needles.count; ++n) {
        if (Contains(bytes, size, g_needles.bytes[n], g_needles.length[n])) {
            g_found.fetch_add(1);
        }
    }
}

void* Allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void Release(void* p) noexcept {
    Inspect(p);
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}

namespace kvx::test {
namespace {

constexpr char16_t kPassword[] = u"Wolke7-Rot";  // the fixture's factory password
constexpr char16_t kNewPassword[] = u"Sch\u00f6n-2024";

void AddNeedle(const void* bytes, std::size_t length) {
    ASSERT_LT(g_needles.count, Needles::kMax);
    ASSERT_LE(length, Needles::kLength);
    std::memcpy(g_needles.bytes[g_needles.count], bytes, length);
    g_needles.length[g_needles.count] = length;
    ++g_needles.count;
}

// The password as the ANSI code page and as UTF-16LE bytes.
std::vector<std::vector<std::uint8_t>> Forms(std::u16string_view password) {
    const std::string ansi = ToCp1252(password);
    std::vector<std::uint8_t> wide;
    for (char16_t c : password) {
        wide.push_back(static_cast<std::uint8_t>(c));
        wide.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return {std::vector<std::uint8_t>(ansi.begin(), ansi.end()), wide};
}

bool ContainsForm(const std::vector<std::uint8_t>& hay, std::u16string_view password) {
    for (const auto& form : Forms(password)) {
        if (Contains(hay.data(), hay.size(), form.data(), form.size())) {
            return true;
        }
    }
    return false;
}

// Passes everything to the sim host and keeps a copy of every command and of every byte sent
// to the device.
class RecordingHost : public ForwardingHost {
  public:
    explicit RecordingHost(Host& inner) : ForwardingHost(inner) {}

    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override {
        sent.emplace_back(command.cdb.begin(), command.cdb.end());
        if (command.direction == DataDirection::kOut) {
            sent.emplace_back(command.data.begin(), command.data.end());
            if (command.data.size() == 32) {
                responses.emplace_back(command.data.begin(), command.data.end());
            }
        }
        return ForwardingHost::ScsiPassThrough(drive, command);
    }
    std::optional<std::size_t> UsbHubControl(HostHandle hub, UsbControl code,
                                             std::span<const std::uint8_t> in,
                                             std::span<std::uint8_t> out) override {
        sent.emplace_back(in.begin(), in.end());
        return ForwardingHost::UsbHubControl(hub, code, in, out);
    }

    std::vector<std::vector<std::uint8_t>> sent;
    std::vector<std::vector<std::uint8_t>> responses;
};

int Login(DeviceFixture& dev, std::u16string_view password) {
    QdaRequest request = dev.LoggedRequest();
    SetPassword(request, password);
    return QDASHA2Auth(&request);
}

int ChangeTo(DeviceFixture& dev, std::uint8_t mode, std::u16string_view password) {
    QdaRequest request = dev.LoggedRequest();
    request.changeOp = mode;
    SetPassword(request, password);
    SetHint(request, u"a hint");
    return QDAChangePassWord(&request);
}

int WriteFormatFlag(DeviceFixture& dev, std::u16string_view password) {
    QdaRequest request = dev.LoggedRequest();
    request.writePasswordFlag = 1;
    SetPassword(request, password);
    SetHint(request, u"a hint");
    return QDAWriteCDFormatFlag(&request);
}

// Everything that handles a password: failed and good logins on both media, changes in modes 3
// and 4, reading the hint back, the CD format flag storing a password.
void HandlePasswords(DeviceFixture& dev) {
    EXPECT_EQ(Login(dev, u"Wolke7-Rat"), 0);
    EXPECT_EQ(Login(dev, kPassword), 1);
    EXPECT_EQ(ChangeTo(dev, 3, kNewPassword), 1);
    EXPECT_EQ(ChangeTo(dev, 4, kPassword), 1);
    EXPECT_EQ(Login(dev, kPassword), 1);
    EXPECT_EQ(ChangeTo(dev, 2, u""), 1);
    EXPECT_EQ(WriteFormatFlag(dev, kNewPassword), 1);
    EXPECT_EQ(Login(dev, kNewPassword), 1);
}

class SecretHygiene : public ::testing::TestWithParam<sim::Media> {};

TEST_P(SecretHygiene, ThePasswordIsNeitherLoggedNorSent) {
    DeviceSpec spec;
    spec.media = GetParam();
    DeviceFixture dev(spec);
    RecordingHost recorder(dev.host());
    const ScopedHostOverride scope(recorder);
    HandlePasswords(dev);

    const std::string log = dev.LogText();
    ASSERT_NE(log.find("QDASHA2Auth"), std::string::npos) << "the log was written";
    const std::vector<std::uint8_t> logBytes(log.begin(), log.end());
    EXPECT_FALSE(ContainsForm(logBytes, kPassword));
    EXPECT_FALSE(ContainsForm(logBytes, kNewPassword));

    ASSERT_FALSE(recorder.responses.empty()) << "the recorder sees data sent to the device";
    for (const auto& bytes : recorder.sent) {
        EXPECT_FALSE(ContainsForm(bytes, kPassword));
        EXPECT_FALSE(ContainsForm(bytes, kNewPassword));
    }
    // What went out instead is the chained hash; never the plain digest the block stores.
    const std::string ansi = ToCp1252(kPassword);
    std::uint8_t digest[32];
    ASSERT_TRUE(HashSecret({reinterpret_cast<const std::uint8_t*>(ansi.data()), ansi.size()},
                           digest, nullptr, false));
    for (const auto& r : recorder.responses) {
        EXPECT_NE(std::memcmp(r.data(), digest, 32), 0);
    }
}

TEST_P(SecretHygiene, NoFreedHeapBlockHoldsThePassword) {
    DeviceSpec spec;
    spec.media = GetParam();
    DeviceFixture dev(spec);
    RecordingHost recorder(dev.host());
    const ScopedHostOverride scope(recorder);
    recorder.sent.reserve(4096);  // the recorder's own growth stays out of the watch window
    recorder.responses.reserve(64);

    g_needles = {};
    for (const auto& form : Forms(kPassword)) {
        AddNeedle(form.data(), form.size());
    }
    for (const auto& form : Forms(kNewPassword)) {
        AddNeedle(form.data(), form.size());
    }

    // The watch finds what it is meant to find.
    g_found = 0;
    g_watching = true;
    {
        auto* copy = new std::vector<char16_t>(std::begin(kPassword), std::end(kPassword));
        delete copy;
    }
    g_watching = false;
    ASSERT_EQ(g_found.load(), 1);

    g_found = 0;
    g_watching = true;
    HandlePasswords(dev);
    g_watching = false;
    EXPECT_EQ(g_found.load(), 0) << "freed heap blocks held the password";
}

INSTANTIATE_TEST_SUITE_P(Media, SecretHygiene,
                         ::testing::Values(sim::Media::kHdd, sim::Media::kFlash));

}  // namespace
}  // namespace kvx::test
