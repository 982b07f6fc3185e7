// One kvx run: the global options, the request record the exports share, the host with the
// chosen configuration file, and the device the command works on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/qda.h"
#include "host/host.h"
#include "tools/kvx/config_host.h"
#include "tools/kvx/input.h"
#include "tools/kvx/report.h"

namespace kvx::cli {

struct GlobalOptions {
    std::optional<std::string> device;  // a drive letter
    std::optional<std::string> config;  // the configuration file
    std::optional<std::string> log;     // the library's diagnostic log
    bool json = false;
    bool quiet = false;
    bool passwordStdin = false;
    bool yes = false;  // destructive commands go ahead without asking
};

class Session {
  public:
    Session(const GlobalOptions& options, Report& report);
    // Wipes the record (password and hint fields included).
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    QdaRequest& request() { return request_; }
    Host& host();
    const GlobalOptions& options() const { return options_; }
    InputSource& input() { return input_; }
    Report& report() { return report_; }

    // The CD letters of the devices found; a Failure (no device) when there is none.
    std::vector<char> CdLetters();
    // The device commands work on: --device, else the first found; its letter is in the record.
    char Select();
    // Runs an export; a Failure naming the export and its code when it returns 0.
    template <class... Args>
    void Call(const char* name, int(KVX_CALL* fn)(QdaRequest*, Args...), Args... args) {
        if (fn(&request_, args...) == 0) {
            Fail(name);
        }
    }
    // Whether progress is drawn (stderr a terminal, not --quiet).
    bool ShowProgress() const;
    // A note on stderr for a person (nothing with --quiet).
    void Note(const std::string& text) const;

    // The record's password and hint fields: cleared, then the text with its terminator.
    void PutPassword(std::u16string_view password);
    void PutHint(std::u16string_view hint);
    void WipePassword();

  private:
    [[noreturn]] void Fail(const char* name);

    GlobalOptions options_;
    Report& report_;
    std::optional<ConfigRedirectHost> redirect_;
    std::optional<ScopedHostOverride> override_;
    InputSource input_;
    QdaRequest request_{};
};

}  // namespace kvx::cli
