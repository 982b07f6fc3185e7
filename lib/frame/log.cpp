#include "frame/log.h"

#include <type_traits>

#include "frame/request_text.h"
#include "host/host.h"
#include "host/text.h"

namespace kvx {

DiagnosticLog::DiagnosticLog(Host& host, const QdaRequest& request, std::u16string section)
    : host_(host),
      path_(ReadFixedUtf16(request.logPath, std::extent_v<decltype(request.logPath)>)),
      section_(std::move(section)) {}

void DiagnosticLog::Write(std::u16string_view key, std::u16string_view value) const {
    WriteIn(section_, key, value);
}

void DiagnosticLog::WriteIn(std::u16string_view section, std::u16string_view key,
                            std::u16string_view value) const {
    if (enabled()) {
        (void)host_.WriteProfileString(section, key, value, path_);
    }
}

}  // namespace kvx
