// The diagnostic log: an INI-format file written entry by entry with the profile-string writer.
// It exists only when the host program puts a path into the request record.
#pragma once

#include <string>
#include <string_view>

#include "frame/qda.h"

namespace kvx {

class Host;

class DiagnosticLog {
  public:
    // Entries go to `section` of the file named by the record's log path (none when empty).
    DiagnosticLog(Host& host, const QdaRequest& request, std::u16string section);

    bool enabled() const { return !path_.empty(); }
    const std::u16string& section() const { return section_; }

    // One entry; a failing write is ignored, no caller depends on the log.
    void Write(std::u16string_view key, std::u16string_view value) const;
    // The same in another section of the same file.
    void WriteIn(std::u16string_view section, std::u16string_view key,
                 std::u16string_view value) const;

  private:
    Host& host_;
    std::u16string path_;
    std::u16string section_;
};

inline constexpr char16_t kPass[] = u"PASS";
inline constexpr char16_t kFail[] = u"FAIL";
inline constexpr char16_t kTest[] = u"TEST";

}  // namespace kvx
