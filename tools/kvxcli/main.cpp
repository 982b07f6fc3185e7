// kvxcli: calls the library's exports from the command line and prints what they report.
//
//   kvxcli check                   CD and secure units of the device, chip code
//   kvxcli status LETTER           password protection, open state, verify count
//   kvxcli capacity LETTER         medium and partition sizes
//   kvxcli login LETTER            asks for the password and opens the secure partition
//   kvxcli read LETTER SECTOR [N]  hex dump of N sectors of the medium
//   kvxcli eject LETTER            ejects the secure unit of the device whose CD unit is LETTER
//
// The library reads its configuration file (prefix + "KVX.INI") beside this program.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "frame/errors.h"
#include "frame/qda.h"

#ifdef _WIN32
#include <conio.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace {

void Usage() {
    std::fprintf(
        stderr,
        "usage: kvxcli check | status LETTER | capacity LETTER | login LETTER | read LETTER "
        "SECTOR [COUNT] |"
        " eject LETTER\n");
}

std::string Letters(const uint8_t* letters, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n && letters[i] != 0; ++i) {
        text += static_cast<char>(letters[i]);
        text += ": ";
    }
    return text.empty() ? "none" : text;
}

int Failed(const char* what, const QdaRequest& request) {
    std::fprintf(stderr, "%s failed: error code %u\n", what,
                 static_cast<unsigned>(request.errorCode));
    return 1;
}

// Reads a line without echo when standard input is a terminal.
std::string ReadSecret(const char* prompt) {
    std::fprintf(stderr, "%s", prompt);
    std::string line;
#ifdef _WIN32
    for (int c = _getch(); c != '\r' && c != '\n' && c != EOF; c = _getch()) {
        if (c == '\b') {
            if (!line.empty())
                line.pop_back();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
#else
    termios old{};
    const bool tty = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &old) == 0;
    if (tty) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::getline(std::cin, line);
    if (tty) {
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
    }
#endif
    std::fprintf(stderr, "\n");
    return line;
}

int Check(QdaRequest& request) {
    const int cd = QDACheckCD(&request);
    std::printf("CD units: %s%s\n", Letters(request.cdLetters, 12).c_str(),
                request.errorCode == '1' ? " (through the USB hub)" : "");
    if (!cd) {
        return Failed("QDACheckCD", request);
    }
    QDACheckSEC(&request);
    std::printf("secure units: %s\n", Letters(request.secureLetters, 12).c_str());
    request.driveLetter = request.cdLetters[0];
    uint16_t chip[260] = {};
    if (QDAGetChipNum(&request, chip)) {
        std::string text;
        for (int i = 0; chip[i] != 0; ++i)
            text += static_cast<char>(chip[i]);
        std::printf("chip code: %s\n", text.c_str());
    }
    return 0;
}

int Status(QdaRequest& request) {
    if (!QDAGetPasswordStatus(&request)) {
        return Failed("QDAGetPasswordStatus", request);
    }
    std::printf(
        "media: %s\npassword protection: %s\nsecure partition: %s\nverify count: %u\n",
        request.mediaType == 2 ? "flash" : "hard disk", request.passwordSupported ? "on" : "off",
        request.deviceDisabled ? "open" : "locked", static_cast<unsigned>(request.verifyCount));
    return 0;
}

int Capacity(QdaRequest& request) {
    if (!QDAGetDeviceCapacity(&request)) {
        return Failed("QDAGetDeviceCapacity", request);
    }
    std::printf(
        "medium: %u MB\nCD partition: %u MB\nsecure partition: %u MB\nsecond partition: %u MB\n",
        request.mediumSizeMb, request.cdSizeMb, request.secureSizeMb, request.secondSizeMb);
    return 0;
}

int Login(QdaRequest& request) {
    std::string password = ReadSecret("Password: ");
    if (password.size() < 4 || password.size() > 10) {
        std::fprintf(stderr, "the password has 4 to 10 characters\n");
        return 2;
    }
    for (std::size_t i = 0; i < password.size(); ++i) {
        request.password[i] = static_cast<unsigned char>(password[i]);
    }
    std::fill(password.begin(), password.end(), '\0');
    const int ok = QDASHA2Auth(&request);
    std::memset(request.password, 0, sizeof request.password);
    if (!ok) {
        if (request.errorCode == kvx::kErrPasswordRefused) {
            std::fprintf(stderr, "wrong password; %u tries left\n",
                         static_cast<unsigned>(request.verifyCount));
            return 1;
        }
        return Failed("QDASHA2Auth", request);
    }
    if (!QDALaunchSec(&request)) {
        return Failed("QDALaunchSec", request);
    }
    std::printf("secure partition open\n");
    return 0;
}

int Read(QdaRequest& request, unsigned long sector, unsigned long count) {
    if (count == 0 || count > 64) {
        std::fprintf(stderr, "count: 1 to 64 sectors\n");
        return 2;
    }
    std::vector<uint8_t> data(count * 512);
    request.startSector = static_cast<uint32_t>(sector);
    request.sectorCount = static_cast<uint16_t>(count);
    request.writeFlag = 0;
    if (!QDARdWrDirect(&request, data.data())) {
        return Failed("QDARdWrDirect", request);
    }
    for (std::size_t at = 0; at < data.size(); at += 16) {
        std::printf("%08lx ", static_cast<unsigned long>(sector * 512 + at));
        for (std::size_t i = 0; i < 16; ++i)
            std::printf(" %02x", data[at + i]);
        std::printf("  ");
        for (std::size_t i = 0; i < 16; ++i)
            std::putchar(std::isprint(data[at + i]) ? data[at + i] : '.');
        std::printf("\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    static QdaRequest request;
    const std::string command = argv[1];
    if (command == "check") {
        return Check(request);
    }
    if (argc < 3 || std::strlen(argv[2]) == 0 ||
        !std::isalpha(static_cast<unsigned char>(argv[2][0]))) {
        Usage();
        return 2;
    }
    request.driveLetter =
        static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(argv[2][0])));
    if (command == "status")
        return Status(request);
    if (command == "capacity")
        return Capacity(request);
    if (command == "login")
        return Login(request);
    if (command == "eject") {
        QDACheckSEC(&request);
        return QDAEjectSec(&request) ? 0 : Failed("QDAEjectSec", request);
    }
    if (command == "read" && argc >= 4) {
        return Read(request, std::strtoul(argv[3], nullptr, 0),
                    argc >= 5 ? std::strtoul(argv[4], nullptr, 0) : 1);
    }
    Usage();
    return 2;
}
