// The scan on Linux: the mappings from /proc/self/maps, their resident pages from mincore, the
// bytes through /proc/self/mem into one static buffer.
#ifdef __linux__

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypto/wipe.h"
#include "support/memory_scan.h"

namespace kvx::test {
namespace {

constexpr std::size_t kMapsCapacity = 1 << 20;
constexpr std::size_t kMaxRegions = 1 << 14;
constexpr std::size_t kChunk = 1 << 20;
// mincore is asked about this much address space at a time (sanitizer shadow maps are terabytes
// of mostly untouched space).
constexpr std::size_t kWindow = std::size_t{1} << 30;
constexpr std::size_t kSmallestPage = 4096;
constexpr std::uint16_t kNoNeedle = 0xFFFF;
static_assert(MaskedNeedles::kMax < kNoNeedle);

struct Region {
    std::uintptr_t start;
    std::uintptr_t end;
    char name[sizeof(ScanHit::mapping)];
};

// All static: the scan must not allocate, or the allocator's own blocks would be part of what it
// reads while it reads them.
char g_maps[kMapsCapacity];
Region g_regions[kMaxRegions];
std::uint8_t g_chunk[kChunk + MaskedNeedles::kMaxLength];
unsigned char g_resident[kWindow / kSmallestPage];
std::uint16_t g_head[1 << 16];
std::uint16_t g_next[MaskedNeedles::kMax];

std::size_t ReadMaps() {
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    std::size_t used = 0;
    while (used + 1 < kMapsCapacity) {
        const ssize_t n = ::read(fd, g_maps + used, kMapsCapacity - 1 - used);
        if (n <= 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    g_maps[used] = '\0';
    return used;
}

// The readable and writable mappings: "start-end perms offset dev inode name" per line.
std::size_t ParseRegions(std::size_t length) {
    std::size_t count = 0;
    char* line = g_maps;
    char* const end = g_maps + length;
    while (line < end && count < kMaxRegions) {
        char* next =
            static_cast<char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        if (next == nullptr) {
            next = end;
        }
        *next = '\0';
        char* p = line;
        const std::uintptr_t start = std::strtoull(p, &p, 16);
        const std::uintptr_t stop = std::strtoull(p + 1, &p, 16);
        const bool rw = p[1] == 'r' && p[2] == 'w';
        // Skip perms, offset, device and inode to reach the name, if any.
        for (int field = 0; field < 4 && *p != '\0'; ++field) {
            while (*p == ' ') {
                ++p;
            }
            while (*p != ' ' && *p != '\0') {
                ++p;
            }
        }
        while (*p == ' ') {
            ++p;
        }
        if (rw && stop > start) {
            Region& r = g_regions[count++];
            r.start = start;
            r.end = stop;
            std::snprintf(r.name, sizeof r.name, "%s", *p != '\0' ? p : "anonymous");
        }
        line = next + 1;
    }
    return count;
}

void BuildBuckets(const MaskedNeedles& needles) {
    std::fill(std::begin(g_head), std::end(g_head), kNoNeedle);
    for (std::size_t n = 0; n < needles.size(); ++n) {
        const std::uint16_t prefix = needles.Prefix(n);
        g_next[n] = g_head[prefix];
        g_head[prefix] = static_cast<std::uint16_t>(n);
    }
}

void Record(ScanReport& report, std::size_t needle, std::uintptr_t address, const Region& region) {
    ++report.total;
    ++report.perNeedle[needle];
    if (report.recorded < ScanReport::kMaxHits) {
        ScanHit& hit = report.hits[report.recorded++];
        hit.needle = needle;
        hit.address = address;
        std::memcpy(hit.mapping, region.name, sizeof hit.mapping);
    }
}

// Searches `got` bytes read from `base`; copies starting at or after `limit` are left to the
// next piece, which re-reads them. It reads only the scan's own buffer, so the address sanitizer
// has nothing to check here and would only multiply the time of the hottest loop.
__attribute__((no_sanitize("address"))) void SearchChunk(const MaskedNeedles& needles,
                                                         std::size_t got, std::size_t limit,
                                                         std::uintptr_t base, const Region& region,
                                                         ScanReport& report) {
    for (std::size_t i = 0; i + 1 < got && i < limit; ++i) {
        const auto prefix = static_cast<std::uint16_t>(g_chunk[i] | g_chunk[i + 1] << 8);
        for (std::uint16_t n = g_head[prefix]; n != kNoNeedle; n = g_next[n]) {
            if (i + needles.length(n) <= got && needles.Matches(n, g_chunk + i)) {
                Record(report, n, base + i, region);
            }
        }
    }
}

// Reads [start, end) piece by piece; each piece overlaps the next by a needle's length.
void ScanRange(int mem, const MaskedNeedles& needles, std::uintptr_t start, std::uintptr_t end,
               const Region& region, ScanReport& report) {
    for (std::uintptr_t at = start; at < end; at += kChunk) {
        const std::size_t want =
            std::min<std::size_t>(kChunk + MaskedNeedles::kMaxLength - 1, end - at);
        const ssize_t got = ::pread(mem, g_chunk, want, static_cast<off_t>(at));
        if (got <= 0) {
            report.bytesUnreadable += std::min<std::size_t>(kChunk, end - at);
            continue;
        }
        const auto size = static_cast<std::size_t>(got);
        SearchChunk(needles, size, kChunk, at, region, report);
        report.bytesScanned += std::min(size, kChunk);
        SecureWipe(g_chunk, size);
    }
}

// The first resident page from p on (pages when there is none). Sanitizer shadow maps have
// billions of untouched pages, so eight are skipped at a time.
std::size_t NextResident(std::size_t p, std::size_t pages) {
    constexpr std::uint64_t kResidentBits = 0x0101010101010101ULL;
    while (p + sizeof(std::uint64_t) <= pages) {
        std::uint64_t eight = 0;
        std::memcpy(&eight, g_resident + p, sizeof eight);
        if ((eight & kResidentBits) != 0) {
            break;
        }
        p += sizeof eight;
    }
    while (p < pages && (g_resident[p] & 1) == 0) {
        ++p;
    }
    return p;
}

void ScanRegion(int mem, const MaskedNeedles& needles, const Region& region, ScanReport& report) {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (std::uintptr_t window = region.start; window < region.end; window += kWindow) {
        const std::size_t length = std::min<std::size_t>(kWindow, region.end - window);
        const std::size_t pages = (length + page - 1) / page;
        if (::mincore(reinterpret_cast<void*>(window), length, g_resident) != 0) {
            report.bytesUnreadable += length;
            continue;
        }
        // Runs of resident pages.
        for (std::size_t p = NextResident(0, pages); p < pages; p = NextResident(p, pages)) {
            std::size_t q = p;
            while (q < pages && (g_resident[q] & 1) != 0) {
                ++q;
            }
            const std::uintptr_t from = window + p * page;
            const std::uintptr_t to = std::min<std::uintptr_t>(window + q * page, region.end);
            ScanRange(mem, needles, from, to, region, report);
            p = q;
        }
    }
}

}  // namespace

bool MemoryScanSupported() {
    return true;
}

void ScanWritableMemory(const MaskedNeedles& needles, ScanReport& report) {
    report.total = 0;
    report.recorded = 0;
    report.bytesScanned = 0;
    report.bytesUnreadable = 0;
    std::fill(std::begin(report.perNeedle), std::end(report.perNeedle), std::size_t{0});
    BuildBuckets(needles);
    const std::size_t regions = ParseRegions(ReadMaps());
    const int mem = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (mem < 0) {
        return;
    }
    for (std::size_t r = 0; r < regions; ++r) {
        ScanRegion(mem, needles, g_regions[r], report);
    }
    ::close(mem);
}

}  // namespace kvx::test

#endif
