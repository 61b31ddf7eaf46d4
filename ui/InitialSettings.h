#pragma once
// The window's and every control's initial values, as settings records.

#include <QByteArray>

namespace ui::settings {

QByteArray WindowRecord();
QByteArray TimerRecord();  // both refresh timers
QByteArray SerialRecord(); // both serial controllers
// A visible control's record, by the control's name; empty for none.
QByteArray ControlRecord(const char *name);

inline constexpr int kRefreshPeriodMs = 500;
inline constexpr int kWindowWidth = 480;
inline constexpr int kWindowHeight = 452;

} // namespace ui::settings
