#include "host/profile_ini.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "host/codepage.h"
#include "host/text.h"

namespace kvx::profile {
namespace {

enum class Encoding { kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be, kAnsi };

struct Entry {
    std::u16string name;
    std::optional<std::u16string> value;  // nullopt: a line without '='
};

struct Section {
    std::u16string name;  // empty for the lines before the first header
    std::vector<Entry> entries;
};

// sections[0] is always the unnamed one.
struct Document {
    std::vector<Section> sections;
    Encoding encoding = Encoding::kUtf8;
};

// Blanks as the profile functions see them: C whitespace and the DOS end-of-file mark.
bool IsBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x1A;
}

std::u16string_view TrimLeft(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::u16string_view Trim(std::u16string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Simple case folding for ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
char16_t FoldCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c < 0x100) {
        return c;
    }
    if (c == 0x178) {
        return 0xFF;
    }
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
        return static_cast<char16_t>(c | 1);
    }
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
        return static_cast<char16_t>((c & 1) != 0 ? c + 1 : c);
    }
    if ((c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0x400 && c <= 0x40F) {
        return static_cast<char16_t>(c + 0x50);
    }
    return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

Document Parse(std::u16string_view text) {
    Document doc;
    doc.sections.emplace_back();
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string_view::npos) {
            end = text.size();
        }
        const std::u16string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) {
            continue;
        }
        if (line.front() == u'[') {
            const std::size_t close = line.rfind(u']');
            if (close != std::u16string_view::npos && close > 0) {
                doc.sections.push_back({std::u16string(Trim(line.substr(1, close - 1))), {}});
                continue;
            }
        }
        Entry entry;
        const std::size_t equals = line.find(u'=');
        if (equals == std::u16string_view::npos) {
            entry.name = line;
        } else {
            entry.name = Trim(line.substr(0, equals));
            entry.value = std::u16string(Trim(line.substr(equals + 1)));
        }
        doc.sections.back().entries.push_back(std::move(entry));
    }
    return doc;
}

std::u16string Serialise(const Document& doc) {
    std::u16string out;
    for (const Section& section : doc.sections) {
        if (!section.name.empty()) {
            out += u'[';
            out += section.name;
            out += u"]\r\n";
        }
        for (const Entry& entry : section.entries) {
            out += entry.name;
            if (entry.value) {
                out += u'=';
                out += *entry.value;
            }
            out += u"\r\n";
        }
    }
    return out;
}

Section* FindSection(Document& doc, std::u16string_view name) {
    for (Section& section : doc.sections) {
        if (SameName(section.name, name)) {
            return &section;
        }
    }
    return nullptr;
}

Entry* FindEntry(Section& section, std::u16string_view name) {
    for (Entry& entry : section.entries) {
        if (SameName(entry.name, name)) {
            return &entry;
        }
    }
    return nullptr;
}

std::u16string FromUtf16Bytes(std::string_view bytes, bool bigEndian) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<std::uint8_t>(bytes[i]);
        const auto b1 = static_cast<std::uint8_t>(bytes[i + 1]);
        out.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
    }
    return out;
}

std::string ToUtf16Bytes(std::u16string_view text, bool bigEndian) {
    std::string out;
    out.reserve(text.size() * 2 + 2);
    auto put = [&](char16_t u) {
        const auto hi = static_cast<char>(u >> 8);
        const auto lo = static_cast<char>(u & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    };
    put(0xFEFF);
    for (const char16_t u : text) {
        put(u);
    }
    return out;
}

Encoding DetectEncoding(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        return Encoding::kUtf8Bom;
    }
    if (bytes.starts_with("\xFF\xFE")) {
        return Encoding::kUtf16Le;
    }
    if (bytes.starts_with("\xFE\xFF")) {
        return Encoding::kUtf16Be;
    }
    return IsValidUtf8(bytes) ? Encoding::kUtf8 : Encoding::kAnsi;
}

std::u16string Decode(std::string_view bytes, Encoding encoding) {
    switch (encoding) {
        case Encoding::kUtf8Bom:
            return FromUtf8(bytes.substr(3));
        case Encoding::kUtf16Le:
            return FromUtf16Bytes(bytes.substr(2), false);
        case Encoding::kUtf16Be:
            return FromUtf16Bytes(bytes.substr(2), true);
        case Encoding::kAnsi:
            return FromCp1252(bytes);
        case Encoding::kUtf8:
            break;
    }
    return FromUtf8(bytes);
}

std::string Encode(std::u16string_view text, Encoding encoding) {
    switch (encoding) {
        case Encoding::kUtf8Bom:
            return "\xEF\xBB\xBF" + ToUtf8(text);
        case Encoding::kUtf16Le:
            return ToUtf16Bytes(text, false);
        case Encoding::kUtf16Be:
            return ToUtf16Bytes(text, true);
        case Encoding::kAnsi:
            return ToCp1252(text);
        case Encoding::kUtf8:
            break;
    }
    return ToUtf8(text);
}

// The file's bytes; an empty string for a missing file, nullopt when it exists but cannot be read.
std::optional<std::string> LoadBytes(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return std::string();
    }
    if (ec || status.type() != std::filesystem::file_type::regular) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<Document> Load(const std::filesystem::path& path) {
    const std::optional<std::string> bytes = LoadBytes(path);
    if (!bytes) {
        return std::nullopt;
    }
    const Encoding encoding = DetectEncoding(*bytes);
    Document doc = Parse(Decode(*bytes, encoding));
    doc.encoding = encoding;
    return doc;
}

bool WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

// Writes through a temporary file in the same folder and renames it over the target, so that a
// crash midway leaves the old file whole; writes in place when no temporary file can be made.
// A file that may not be written (no owner write permission, as the read-only attribute maps
// to) is refused rather than replaced by the rename.
bool Store(const std::filesystem::path& path, const Document& doc) {
    namespace fs = std::filesystem;
    const std::u16string text = Serialise(doc);
    std::string bytes = Encode(text, doc.encoding);
    // Text its own encoding would not read back as written (characters outside the code page,
    // or Windows-1252 bytes that now begin like a byte-order mark or now form UTF-8) is written
    // as UTF-8 with a byte-order mark, which always reads back.
    if (Decode(bytes, DetectEncoding(bytes)) != text) {
        bytes = Encode(text, Encoding::kUtf8Bom);
    }
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        target = fs::canonical(path, ec);
        if (ec) {
            return false;
        }
    }
    const fs::file_status previous = fs::status(target, ec);
    if (fs::exists(previous)) {
        if ((previous.permissions() & fs::perms::owner_write) == fs::perms::none ||
            !std::ofstream(target, std::ios::binary | std::ios::app)) {
            return false;
        }
    }
    static std::atomic<unsigned> counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string suffix =
        ".~" + std::to_string((static_cast<unsigned long long>(stamp) << 8) ^ ++counter);
    fs::path temp = target;
    temp += std::u8string(suffix.begin(), suffix.end());
    if (WriteBytes(temp, bytes)) {
        if (fs::exists(previous)) {
            fs::permissions(temp, previous.permissions(), ec);
        }
        fs::rename(temp, target, ec);
        if (!ec) {
            return true;
        }
    }
    fs::remove(temp, ec);
    return WriteBytes(target, bytes);
}

bool BreaksLines(std::u16string_view s) {
    return s.find_first_of(u"\r\n") != s.npos;
}

// Sets (value) or removes (no value) one key; false when the file cannot be read or written.
bool Change(std::u16string_view sectionName, std::u16string_view keyName,
            std::optional<std::u16string_view> value, const std::filesystem::path& path) {
    try {
        std::optional<Document> doc = Load(path);
        if (!doc) {
            return false;
        }
        Section* found = FindSection(*doc, Trim(sectionName));
        Entry* entry = found != nullptr ? FindEntry(*found, Trim(keyName)) : nullptr;
        if (!value) {
            if (entry == nullptr) {
                return true;
            }
            found->entries.erase(found->entries.begin() + (entry - found->entries.data()));
            return Store(path, *doc);
        }
        const std::u16string_view text = TrimLeft(*value);
        if (entry != nullptr && entry->value == text) {
            return true;
        }
        // New names keep trailing blanks as the system writes them; reading trims them anyway.
        if (found == nullptr) {
            found = &doc->sections.emplace_back(Section{std::u16string(TrimLeft(sectionName)), {}});
        }
        if (entry == nullptr) {
            entry = &found->entries.emplace_back(Entry{std::u16string(TrimLeft(keyName)), {}});
        }
        entry->value = std::u16string(text);
        return Store(path, *doc);
    } catch (...) {
        return false;  // out of memory or a filesystem exception: the call just fails
    }
}

}  // namespace

std::u16string Read(std::u16string_view section, std::u16string_view key,
                    std::u16string_view defaultValue, const std::filesystem::path& path,
                    std::size_t maxChars) {
    if (maxChars == 0) {
        return {};
    }
    try {
        // A default loses its trailing spaces (not other blanks), never its first character.
        while (defaultValue.size() > 1 && defaultValue.back() == u' ') {
            defaultValue.remove_suffix(1);
        }
        std::u16string value(defaultValue);
        if (std::optional<Document> doc = Load(path)) {
            if (Section* found = FindSection(*doc, Trim(section))) {
                Entry* entry = FindEntry(*found, Trim(key));
                if (entry != nullptr && entry->value) {
                    value = *entry->value;
                }
            }
        }
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (value.size() > maxChars - 1) {
            value.resize(maxChars - 1);
            if (!value.empty() && value.back() >= 0xD800 && value.back() <= 0xDBFF) {
                value.pop_back();  // half of a pair is no character
            }
        }
        return value;
    } catch (...) {
        return {};
    }
}

bool Write(std::u16string_view section, std::u16string_view key, std::u16string_view value,
           const std::filesystem::path& path) {
    if (BreaksLines(section) || BreaksLines(key) || BreaksLines(value) ||
        key.find(u'=') != key.npos || Trim(key).starts_with(u'[')) {
        return false;
    }
    return Change(section, key, value, path);
}

bool DeleteKey(std::u16string_view section, std::u16string_view key,
               const std::filesystem::path& path) {
    return Change(section, key, std::nullopt, path);
}

std::u16string DecodeFileText(std::string_view bytes) {
    return Decode(bytes, DetectEncoding(bytes));
}

}  // namespace kvx::profile
