// The device library's exports, bound by name right before each call.
//
// The applications load the library at run time and never keep an export's address: every call
// looks the export up again in the loaded module, and a missing export makes the call report
// nullopt so that the caller skips its step.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frame/qda.h"

namespace kvx::ui {

// The common form of a function address handed out by a loader.
using AnyFunction = void (*)();

// Something exports can be found in by name.
class SymbolSource {
  public:
    virtual ~SymbolSource() = default;
    // The address of the named export, or null.
    virtual AnyFunction Find(const char* name) = 0;
};

// A shared library loaded from a native path (dlopen, or LoadLibraryW on Windows); unloaded on
// destruction.
class LoadedModule : public SymbolSource {
  public:
    // Null when the file cannot be loaded.
    static std::unique_ptr<LoadedModule> Open(const std::string& nativePath);
};

class Exports {
  public:
    explicit Exports(SymbolSource& source) : source_(source) {}

    // Each returns the export's result, or nullopt when the library lacks the export.
    std::optional<int> CheckCD(QdaRequest& request);
    std::optional<int> CheckSEC(QdaRequest& request);
    std::optional<int> GetChipNum(QdaRequest& request, std::uint16_t* chipText);
    std::optional<int> EjectSec(QdaRequest& request);
    std::optional<int> GetPasswordStatus(QdaRequest& request);
    std::optional<int> GetDeviceCapacity(QdaRequest& request);
    std::optional<int> SHA2Auth(QdaRequest& request);
    std::optional<int> LaunchSec(QdaRequest& request);
    std::optional<int> HiddenPartRdWr(QdaRequest& request, std::uint8_t* data);
    std::optional<int> RdWrDirect(QdaRequest& request, std::uint8_t* data);
    std::optional<int> ChangePassWord(QdaRequest& request);
    std::optional<int> FormatHDD(QdaRequest& request);
    std::optional<int> UpdateCDPart(QdaRequest& request, QdaImageRequest* images);
    std::optional<int> WriteCDFormatFlag(QdaRequest& request);

  private:
    template <class Fn, class... Args>
    std::optional<int> Call(const char* name, Args... args) {
        const AnyFunction found = source_.Find(name);
        if (found == nullptr) {
            return std::nullopt;
        }
        return reinterpret_cast<Fn>(found)(args...);
    }

    SymbolSource& source_;
};

}  // namespace kvx::ui
