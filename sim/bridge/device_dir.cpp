#include "sim/bridge/device_dir.h"

#include <fstream>
#include <sstream>
#include <utility>

namespace kvx::sim {
namespace {

bool WriteWholeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool MakeSparse(const std::filesystem::path& path, std::uint64_t bytes) {
    auto file = OsFile::Open(path, true);
    return file && file->Resize(bytes);
}

}  // namespace

DevicePaths::DevicePaths(std::filesystem::path directory)
    : dir(std::move(directory)),
      state(dir / "state"),
      medium(dir / "medium.img"),
      hidden(dir / "hidden.img"),
      log(dir / "commands.log"),
      lock(dir / "lock") {}

bool CreateDeviceFiles(const DevicePaths& paths, const BridgeState& state, std::string* error) {
    auto fail = [error](std::string why) {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return false;
    };
    if (const auto bad = CheckState(state)) {
        return fail(*bad);
    }
    std::error_code ec;
    if (std::filesystem::exists(paths.state, ec)) {
        return fail("a device already exists in " + paths.dir.string());
    }
    std::filesystem::create_directories(paths.dir, ec);
    if (ec) {
        return fail("cannot make " + paths.dir.string() + ": " + ec.message());
    }
    const std::uint64_t bytes = state.sectors * kSectorSize;
    if (!MakeSparse(paths.medium, bytes) || !MakeSparse(paths.hidden, bytes)) {
        return fail("cannot make the image files in " + paths.dir.string());
    }
    if (!OsFile::Open(paths.lock, true) || !WriteWholeFile(paths.log, "") ||
        !WriteWholeFile(paths.state, FormatState(state))) {
        return fail("cannot write the device files in " + paths.dir.string());
    }
    return true;
}

std::optional<DeviceSession> DeviceSession::Begin(const DevicePaths& paths, std::string* error) {
    auto fail = [error](std::string why) -> std::optional<DeviceSession> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    };
    auto lock = OsFile::Open(paths.lock, false);
    if (!lock) {
        return fail("no device in " + paths.dir.string());
    }
    if (!lock->Lock()) {
        return fail("cannot lock " + paths.lock.string());
    }
    const auto text = ReadWholeFile(paths.state);
    if (!text) {
        lock->Unlock();
        return fail("cannot read " + paths.state.string());
    }
    std::string why;
    auto state = ParseState(*text, &why);
    if (!state) {
        lock->Unlock();
        return fail(paths.state.string() + ": " + why);
    }
    return DeviceSession(paths, std::move(*lock), std::move(*state));
}

DeviceSession::DeviceSession(DeviceSession&& other) noexcept
    : paths_(other.paths_),
      lock_(std::exchange(other.lock_, std::nullopt)),
      state_(std::move(other.state_)) {}

DeviceSession::~DeviceSession() {
    if (lock_) {
        lock_->Unlock();
    }
}

bool DeviceSession::Save() {
    std::filesystem::path side = paths_->state;
    side += ".new";
    if (!WriteWholeFile(side, FormatState(state_))) {
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(side, paths_->state, ec);
    return !ec;
}

std::optional<BridgeState> LoadDeviceState(const DevicePaths& paths, std::string* error) {
    auto session = DeviceSession::Begin(paths, error);
    if (!session) {
        return std::nullopt;
    }
    return session->state();
}

bool UpdateDeviceState(const DevicePaths& paths, const std::function<void(BridgeState&)>& change,
                       std::string* error) {
    auto session = DeviceSession::Begin(paths, error);
    if (!session) {
        return false;
    }
    change(session->state());
    if (!session->Save()) {
        if (error != nullptr) {
            *error = "cannot write " + paths.state.string();
        }
        return false;
    }
    return true;
}

void Replug(BridgeState& state) {
    state.plugged = true;
    state.secureOpen = !state.passwordSet;
    state.attentionCd = true;
    state.attentionSecure = true;
    state.session = {};  // the firmware forgets its wrapping session
    state.auth = {};     // and any login: a protected device needs the password again
}

}  // namespace kvx::sim
