#include "tools/kvx/report.h"

#include <cstdio>

namespace kvx::cli {
namespace {

// A value as text: strings without quotes, the rest as JSON writes it.
std::string Plain(const nlohmann::json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

void PrintText(const nlohmann::json& fields) {
    for (const auto& [key, value] : fields.items()) {
        if (!value.is_array()) {
            std::printf("%s: %s\n", key.c_str(), Plain(value).c_str());
            continue;
        }
        // A list of records: one line each, "key=value" pairs.
        for (const auto& item : value) {
            std::string line;
            if (item.is_object()) {
                for (const auto& [k, v] : item.items()) {
                    line += (line.empty() ? "" : " ") + k + "=" + Plain(v);
                }
            } else {
                line = Plain(item);
            }
            std::printf("%s: %s\n", key.c_str(), line.c_str());
        }
    }
}

}  // namespace

Report::Report(std::string command, bool json) : command_(std::move(command)), json_(json) {}

void Report::PrintSuccess() const {
    if (json_) {
        nlohmann::json out = {{"command", command_}, {"ok", true}};
        out.update(fields_);
        std::printf("%s\n", out.dump().c_str());
    } else {
        PrintText(fields_);
    }
    std::fflush(stdout);
}

void Report::PrintFailure(const nlohmann::json& error) const {
    if (json_) {
        nlohmann::json out = {{"command", command_}, {"ok", false}};
        out.update(fields_);
        out["error"] = error;
        std::printf("%s\n", out.dump().c_str());
        std::fflush(stdout);
    }
}

}  // namespace kvx::cli
