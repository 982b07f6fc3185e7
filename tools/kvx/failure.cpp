#include "tools/kvx/failure.h"

#include <algorithm>
#include <iterator>

#include "frame/errors.h"

namespace kvx::cli {
namespace {

constexpr LibraryErrorInfo kCatalogue[] = {
#include "error_catalogue.inc"
};

}  // namespace

LibraryErrorInfo DescribeLibraryError(std::uint8_t code) {
    const auto* found = std::find_if(std::begin(kCatalogue), std::end(kCatalogue),
                                     [code](const LibraryErrorInfo& e) { return e.code == code; });
    return found != std::end(kCatalogue) ? *found : LibraryErrorInfo{code, "", ""};
}

Failure Failure::Library(const char* exportName, std::uint8_t code) {
    const LibraryErrorInfo info = DescribeLibraryError(code);
    std::string message = std::string(exportName) + " failed: error " + std::to_string(code);
    if (*info.name != '\0') {
        message += std::string(" (") + info.name + "): " + info.text;
    }
    Failure failure(code == kErrPasswordRefused ? kExitWrongPassword : kExitLibraryError, message);
    failure.library_ = info;
    failure.exportName_ = exportName;
    return failure;
}

}  // namespace kvx::cli
