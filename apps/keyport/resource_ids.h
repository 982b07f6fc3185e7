// Keyport's dialog templates, controls, icons and timers, by the ids the resources use.
#pragma once

#include "common/program_dialogs.h"
#include "common/view.h"

namespace kvx::keyport {

// Dialog templates; 0 is the hidden main frame.
inline constexpr int kMainFrameTemplate = 0;
inline constexpr int kAboutTemplate = 100;
inline constexpr int kLoginTemplate = 102;
inline constexpr int kSuccessTemplate = 133;
inline constexpr int kHintTemplate = 155;
inline constexpr int kChangePasswordTemplate = 156;

inline constexpr int kMainIcon = 128;
inline constexpr int kHintIcon = 162;

// Login dialog.
inline constexpr ui::ControlId kLoginPrompt = 1090;
inline constexpr ui::ControlId kPasswordLabel = 1006;
inline constexpr ui::ControlId kPasswordEdit = 1001;
inline constexpr ui::ControlId kLoginButton = 1;
inline constexpr ui::ControlId kCancelButton = 2;
inline constexpr ui::ControlId kOptionsButton = 1041;
inline constexpr ui::ControlId kHintButton = 1025;

// Hint dialog.
inline constexpr ui::ControlId kHintLabel = 1044;
inline constexpr ui::ControlId kHintText = 1026;
inline constexpr ui::ControlId kHintIconControl = 1027;
inline constexpr ui::ControlId kHintOk = 1047;

// Change-password dialog.
inline constexpr ui::ControlId kChangeIntro = 1091;
inline constexpr ui::ControlId kCurrentLabel = 1034;
inline constexpr ui::ControlId kCurrentEdit = 1030;
inline constexpr ui::ControlId kNewLabel = 1035;
inline constexpr ui::ControlId kNewEdit = 1031;
inline constexpr ui::ControlId kConfirmLabel = 1036;
inline constexpr ui::ControlId kConfirmEdit = 1032;
inline constexpr ui::ControlId kNewHintLabel = 1037;
inline constexpr ui::ControlId kNewHintEdit = 1033;
inline constexpr ui::ControlId kApplyButton = 1043;
inline constexpr ui::ControlId kChangeCancel = 1084;

// Success dialog.
inline constexpr ui::ControlId kSuccessText = 1002;
inline constexpr ui::ControlId kSuccessOk = 1;

// About box.
inline constexpr ui::ControlId kAboutVersion = 1019;
inline constexpr ui::ControlId kAboutNotice = 1020;
inline constexpr ui::ControlId kAboutOk = 1;

// Timers.
inline constexpr unsigned kWaitForDriveTimer = 1;  // main frame, 500 ms
inline constexpr unsigned kSuccessTimer = 3;       // success dialog, 1000 ms
inline constexpr unsigned kCloseTimer = 6;         // main frame, 500 ms

// The version the About box shows.
inline constexpr char16_t kKeyportVersion[] = u"1.64.05";

// Text limits.
using ui::kPasswordChars;
using ui::kPasswordUnits;

}  // namespace kvx::keyport
