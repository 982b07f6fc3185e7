// What ends a kvx command early: an exit code, a message for stderr and, for a library error,
// the export and the code it left in the request record.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "tools/kvx/exit_codes.h"

namespace kvx::cli {

struct LibraryErrorInfo {
    std::uint8_t code = 0;
    const char* name = "";  // the catalogue's name, "kErrPasswordRefused"
    const char* text = "";  // the catalogue's description
};

// The catalogue's entry for a code; name and text stay empty for a code it does not know.
LibraryErrorInfo DescribeLibraryError(std::uint8_t code);

class Failure : public std::runtime_error {
  public:
    Failure(ExitCode exitCode, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode) {}

    // A failed export: exit 3 for a refused password, else 1; the message names the export,
    // the code and the catalogue's text.
    static Failure Library(const char* exportName, std::uint8_t code);

    // The same failure with more words at the end of its message.
    Failure Extended(const std::string& more) const {
        Failure extended(exitCode_, what() + more);
        extended.library_ = library_;
        extended.exportName_ = exportName_;
        return extended;
    }

    ExitCode exitCode() const { return exitCode_; }
    const std::optional<LibraryErrorInfo>& library() const { return library_; }
    const std::string& exportName() const { return exportName_; }

  private:
    ExitCode exitCode_;
    std::optional<LibraryErrorInfo> library_;
    std::string exportName_;
};

}  // namespace kvx::cli
