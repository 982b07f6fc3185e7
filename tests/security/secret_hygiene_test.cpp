// The password never leaves a trace: not in the diagnostic log, not in any command or data sent
// to the device, and not in heap memory the library freed.
//
// Freed memory is watched by replacing the global allocation functions of this test program:
// while a test arms the watch, every block handed back is searched for the password (in the ANSI
// code page and in UTF-16) before it goes back to the C runtime.
//
// After a reset (new password with a fresh unlock value, then a format), no key may be left
// anywhere in the process's writable memory: the partition key, the unlock value, the password
// digest, the session keys and the answers that made them are searched for in every resident
// page, the emulated device's own buffers included.
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "frame/qda.h"
#include "host/codepage.h"
#include "host/forwarding_host.h"
#include "sim/bridge/commands.h"
#include "sim/bridge/wrapping.h"
#include "support/device_fixture.h"
#include "support/memory_scan.h"

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

// While armed, freed blocks are held back instead of going to the C runtime, as a sanitizer's
// quarantine does: the allocator's own bookkeeping (free-list links written into small blocks)
// and reuse would otherwise overwrite what a block still held before a scan can see it.
struct Quarantine {
    static constexpr std::size_t kCapacity = 1 << 17;
    void* blocks[kCapacity] = {};
    std::size_t held = 0;
    std::size_t passedOn = 0;  // freed at once because the quarantine was full
};
Quarantine g_quarantine;
std::atomic<bool> g_holding{false};

bool Hold(void* p) {
    Quarantine& q = g_quarantine;
    if (q.held == Quarantine::kCapacity) {
        ++q.passedOn;
        return false;
    }
    q.blocks[q.held++] = p;
    return true;
}

void ReleaseHeld() {
    g_holding = false;
    Quarantine& q = g_quarantine;
    for (std::size_t i = 0; i < q.held; ++i) {
        std::free(q.blocks[i]);
        q.blocks[i] = nullptr;
    }
    q.held = 0;
    q.passedOn = 0;
}

void Release(void* p) noexcept {
    Inspect(p);
    if (p != nullptr && g_holding.load(std::memory_order_relaxed) && Hold(p)) {
        return;
    }
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

// --- Key material in writable memory ----------------------------------------------------------

// The reset's new password; no other test uses it, so no other test's digest can be found.
constexpr char16_t kResetPassword[] = u"Tief-See42";
constexpr char kResetPasswordAnsi[] = "Tief-See42";
constexpr std::size_t kSessionAnswer = 16;
constexpr std::uint8_t kStoreWithUnlock = 4;  // the password change's mode that re-keys

// Static, so that neither the table nor the report is a heap block the scan reads while it grows.
MaskedNeedles g_keys;
ScanReport g_report;

// The device's state file, read unbuffered into a static buffer that is wiped after each look
// (the file keeps keys in hex).
char g_stateText[1 << 14];

// Calls `use` with the value of the state file's line "key: value" (empty when there is none).
template <typename Use>
void WithStateField(const std::filesystem::path& file, std::string_view key, Use use) {
    std::FILE* f = std::fopen(file.string().c_str(), "rb");
    std::size_t length = 0;
    if (f != nullptr) {
        std::setvbuf(f, nullptr, _IONBF, 0);
        length = std::fread(g_stateText, 1, sizeof g_stateText - 1, f);
        std::fclose(f);
    }
    std::string_view text(g_stateText, length);
    std::string_view value;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t nl = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, nl - at);
        if (line.size() > key.size() + 2 && line.substr(0, key.size()) == key &&
            line.substr(key.size(), 2) == ": ") {
            value = line.substr(key.size() + 2);
        }
        at = nl + 1;
    }
    use(value);
    SecureWipe(g_stateText, sizeof g_stateText);
}

bool AllZeroHex(std::string_view hex) {
    return hex.find_first_not_of('0') == std::string_view::npos;
}

// Passes everything to the sim host. After a wrapped command that answered 16 bytes, a new
// session key in the device's state means those bytes were a session answer: both become needles.
class SessionWatch : public ForwardingHost {
  public:
    SessionWatch(Host& inner, std::filesystem::path stateFile)
        : ForwardingHost(inner), stateFile_(std::move(stateFile)) {}

    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override {
        const ScsiOutcome outcome = ForwardingHost::ScsiPassThrough(drive, command);
        if (!command.cdb.empty() && command.cdb[0] == sim::kWrapSecondHalf &&
            command.direction == DataDirection::kIn && command.data.size() == kSessionAnswer) {
            WithStateField(stateFile_, "session_key", [&](std::string_view hex) {
                if (hex.empty() || AllZeroHex(hex) || (last_ && g_keys.EqualsHex(*last_, hex))) {
                    return;
                }
                last_ = g_keys.AddHex(hex, "session key");
                answers += g_keys.Add(command.data, "session answer") ? 1 : 0;
                overflow = overflow || !last_;
            });
        }
        return outcome;
    }

    int answers = 0;
    bool overflow = false;

  private:
    std::filesystem::path stateFile_;
    std::optional<std::size_t> last_;
};

// Plants needle n on the heap, in static storage and on this function's stack, and scans.
std::uint8_t g_plantedStatic[MaskedNeedles::kMaxLength];

[[gnu::noinline]] void ScanWithPlantedCopies(std::size_t n, const void*& heapAt,
                                             const void*& stackAt) {
    std::uint8_t onStack[MaskedNeedles::kMaxLength];
    auto* onHeap = new std::uint8_t[MaskedNeedles::kMaxLength];
    g_keys.Unmask(n, onStack);
    g_keys.Unmask(n, std::span(onHeap, MaskedNeedles::kMaxLength));
    g_keys.Unmask(n, g_plantedStatic);
    heapAt = onHeap;
    stackAt = onStack;
    ScanWritableMemory(g_keys, g_report);
    SecureWipe(onStack, sizeof onStack);
    SecureWipe(onHeap, MaskedNeedles::kMaxLength);
    SecureWipe(g_plantedStatic, sizeof g_plantedStatic);
    delete[] onHeap;
}

class KeyMaterialHygiene : public ::testing::TestWithParam<sim::Media> {};

TEST_P(KeyMaterialHygiene, NoKeyIsLeftInWritableMemoryAfterAReset) {
    if (!MemoryScanSupported()) {
        GTEST_SKIP() << "this build cannot read its own memory (/proc/self/mem is Linux only)";
    }
    DeviceSpec spec;
    spec.media = GetParam();
    spec.aesEngine = true;
    spec.change = [](sim::BridgeState& s) {
        s.wrap = sim::Wrap::kAes;
        s.wrapRequired = true;
    };
    spec.vendorLines = {"AES=YES"};
    DeviceFixture dev(spec);
    g_keys.Clear();
    SessionWatch watch(dev.host(), dev.Paths().state);
    const ScopedHostOverride scope(watch);
    struct HeldUntilScanned {
        HeldUntilScanned() { g_holding = true; }
        ~HeldUntilScanned() { ReleaseHeld(); }
    } held;

    // The reset as the reset application runs it: mode 4, then the format on the same record.
    QdaRequest request = dev.Request();
    request.changeOp = kStoreWithUnlock;
    SetPassword(request, kResetPassword);
    SetHint(request, u"deep water");
    ASSERT_EQ(QDAChangePassWord(&request), 1) << int{request.errorCode};
    ASSERT_EQ(QDAFormatHDD(&request), 1) << int{request.errorCode};
    SecureWipe(reinterpret_cast<std::byte*>(&request) + offsetof(QdaRequest, password),
               sizeof request.password);

    // The partition key the engine received, and the unlock value it came from (reversed).
    std::optional<std::size_t> partitionKey;
    WithStateField(dev.Paths().state, "aes_key", [&](std::string_view hex) {
        partitionKey = g_keys.AddHex(hex, "partition key");
    });
    ASSERT_TRUE(partitionKey.has_value()) << "the engine holds a key";
    ASSERT_TRUE(g_keys.AddReversed(*partitionKey, "unlock value"));
    // The password digest the data block stores.
    std::uint8_t digest[kDigestSize];
    ASSERT_TRUE(HashSecret(
        {reinterpret_cast<const std::uint8_t*>(kResetPasswordAnsi), sizeof kResetPasswordAnsi - 1},
        digest, nullptr, false));
    const auto digestNeedle = g_keys.Add(digest, "password digest");
    SecureWipe(digest, sizeof digest);
    ASSERT_TRUE(digestNeedle.has_value());
    ASSERT_FALSE(watch.overflow) << "more session keys than the needle table holds";
    ASSERT_GT(watch.answers, 1) << "the exports ran wrapped, with renewals";

    ScanWritableMemory(g_keys, g_report);
    ASSERT_EQ(g_quarantine.passedOn, 0u)
        << "every block freed during the reset was kept for the scan";
    ASSERT_GT(g_report.bytesScanned, 0u);
    EXPECT_EQ(g_report.total, 0u) << Describe(g_report, g_keys);

    // The scan finds what it is meant to find: one copy each on the heap, in static storage and
    // on the stack, at exactly those places.
    const std::size_t before = g_report.perNeedle[*partitionKey];
    const void* heapAt = nullptr;
    const void* stackAt = nullptr;
    ScanWithPlantedCopies(*partitionKey, heapAt, stackAt);
    EXPECT_EQ(g_report.perNeedle[*partitionKey], before + 3) << Describe(g_report, g_keys);
    EXPECT_TRUE(g_report.FoundAt(*partitionKey, heapAt)) << Describe(g_report, g_keys);
    EXPECT_TRUE(g_report.FoundAt(*partitionKey, stackAt)) << Describe(g_report, g_keys);
    EXPECT_TRUE(g_report.FoundAt(*partitionKey, g_plantedStatic)) << Describe(g_report, g_keys);
}

INSTANTIATE_TEST_SUITE_P(Media, KeyMaterialHygiene,
                         ::testing::Values(sim::Media::kHdd, sim::Media::kFlash));

}  // namespace
}  // namespace kvx::test
