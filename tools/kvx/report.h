// What a kvx command reports: one JSON object on stdout with --json, else "key: value" lines.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace kvx::cli {

class Report {
  public:
    Report(std::string command, bool json);

    nlohmann::json& fields() { return fields_; }
    // Prints the report of a command that succeeded.
    void PrintSuccess() const;
    // Prints the report of a failed command (JSON only: the message goes to stderr anyway).
    void PrintFailure(const nlohmann::json& error) const;

  private:
    std::string command_;
    bool json_;
    nlohmann::json fields_ = nlohmann::json::object();
};

}  // namespace kvx::cli
