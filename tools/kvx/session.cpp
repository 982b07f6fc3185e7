#include "tools/kvx/session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "crypto/wipe.h"
#include "frame/errors.h"
#include "host/text.h"
#include "tools/kvx/failure.h"
#include "tools/kvx/terminal.h"

namespace kvx::cli {

Session::Session(const GlobalOptions& options, Report& report)
    : options_(options), report_(report), input_(options.passwordStdin) {
    Host& active = ActiveHost();
    if (const auto file = ChooseConfigFile(active, options_.config)) {
        redirect_.emplace(active, *file);
        override_.emplace(*redirect_);
    }
    if (options_.log) {
        const std::u16string path = FromUtf8(*options_.log);
        if (path.size() >= std::size(request_.logPath)) {
            throw Failure(kExitUsage, "the log path is too long");
        }
        WriteFixedUtf16(path, request_.logPath, std::size(request_.logPath));
    }
}

Session::~Session() {
    SecureWipe(&request_, sizeof request_);
}

Host& Session::host() {
    return ActiveHost();
}

std::vector<char> Session::CdLetters() {
    if (QDACheckCD(&request_) == 0) {
        if (request_.errorCode == kErrNoCdFound) {
            throw Failure(kExitNoDevice, "no device found");
        }
        Fail("QDACheckCD");
    }
    std::vector<char> letters;
    for (const std::uint8_t letter : request_.cdLetters) {
        if (letter != 0) {
            letters.push_back(static_cast<char>(letter));
        }
    }
    if (letters.empty()) {
        throw Failure(kExitNoDevice, "no device found");
    }
    return letters;
}

char Session::Select() {
    char wanted = 0;
    if (options_.device) {
        const std::string& text = *options_.device;
        const bool letter = !text.empty() && std::isalpha(static_cast<unsigned char>(text[0])) &&
                            (text.size() == 1 || text.substr(1) == ":");
        if (!letter) {
            throw Failure(kExitUsage, "--device takes a drive letter, such as E, not " + text);
        }
        wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
    const std::vector<char> letters = CdLetters();
    if (wanted != 0 && std::find(letters.begin(), letters.end(), wanted) == letters.end()) {
        throw Failure(kExitNoDevice, std::string("no device has its CD unit at ") + wanted + ":");
    }
    const char chosen = wanted != 0 ? wanted : letters.front();
    request_.driveLetter = static_cast<std::uint8_t>(chosen);
    report_.fields()["device"] = std::string(1, chosen);
    return chosen;
}

bool Session::ShowProgress() const {
    return !options_.quiet && ErrorIsTerminal();
}

void Session::Note(const std::string& text) const {
    if (!options_.quiet) {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

void Session::PutPassword(std::u16string_view password) {
    WipePassword();
    std::copy(password.begin(),
              password.begin() + std::min(password.size(), std::size(request_.password) - 1),
              request_.password);
}

void Session::PutHint(std::u16string_view hint) {
    WriteFixedUtf16(hint, request_.hint, std::size(request_.hint));
}

void Session::WipePassword() {
    SecureWipe(request_.password, sizeof request_.password);
}

void Session::Fail(const char* name) {
    throw Failure::Library(name, request_.errorCode);
}

}  // namespace kvx::cli
