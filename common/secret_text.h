// A fixed buffer for a password or hint read from a control; wiped when it goes out of scope.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/view.h"
#include "crypto/wipe.h"

namespace kvx::ui {

template <std::size_t Units>
class SecretText {
  public:
    SecretText() = default;
    ~SecretText() { SecureWipe(units_, sizeof units_); }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;

    // Takes at most Units - 1 units of the control's text.
    std::size_t Read(Window& window, ControlId id) {
        length_ = window.GetText(id, units_);
        return length_;
    }
    // Clears the text before the buffer goes (for a caller that keeps running a while).
    void Wipe() {
        SecureWipe(units_, sizeof units_);
        length_ = 0;
    }
    std::u16string_view view() const { return {units_, length_}; }
    std::size_t size() const { return length_; }

  private:
    char16_t units_[Units] = {};
    std::size_t length_ = 0;
};

}  // namespace kvx::ui
