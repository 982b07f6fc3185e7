// Keywiper's dialog templates, controls and icon, by the ids the resources use.
#pragma once

#include "common/view.h"

namespace kvx::keywiper {

// Dialog templates.
inline constexpr int kAboutTemplate = 100;
inline constexpr int kMainTemplate = 102;
inline constexpr int kResetTemplate = 130;

inline constexpr int kMainIcon = 128;

// Main dialog: the warning, the stored hint and the way to the reset.
inline constexpr ui::ControlId kStopText = 1000;
inline constexpr ui::ControlId kHintLabel = 1005;
inline constexpr ui::ControlId kHintText = 1014;
inline constexpr ui::ControlId kResetOpen = 1001;
inline constexpr ui::ControlId kMainCancel = ui::kIdCancel;

// Reset dialog.
inline constexpr ui::ControlId kResetIntro = 1010;
inline constexpr ui::ControlId kNewLabel = 1006;
inline constexpr ui::ControlId kNewEdit = 1003;
inline constexpr ui::ControlId kConfirmLabel = 1007;
inline constexpr ui::ControlId kConfirmEdit = 1004;
inline constexpr ui::ControlId kNewHintLabel = 1008;
inline constexpr ui::ControlId kNewHintEdit = 1005;
inline constexpr ui::ControlId kResetButton = 1013;
inline constexpr ui::ControlId kResetCancel = ui::kIdCancel;
inline constexpr ui::ControlId kProgressBar = 1009;
inline constexpr ui::ControlId kStatusText = 1011;
inline constexpr ui::ControlId kPercentText = 1012;

// About box.
inline constexpr ui::ControlId kAboutVersion = 1019;
inline constexpr ui::ControlId kAboutNotice = 1020;
inline constexpr ui::ControlId kAboutOk = 1;

// The version the About box shows.
inline constexpr char16_t kKeywiperVersion[] = u"1.20.05";

// Warnings to confirm before anything goes to the device.
inline constexpr int kWarnings = 3;

}  // namespace kvx::keywiper
