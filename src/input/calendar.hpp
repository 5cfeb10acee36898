#pragma once
// The calendar of the track and of the output table: fixed month lengths, February of 28 days, no years.

namespace tarvo {

// A year of 366 days in the proleptic Gregorian calendar.
inline bool leap_year(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

inline int days_in_month(int month) {
  constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month >= 1 && month <= 12 ? days[month - 1] : 0;
}

struct DateHour {
  int month, day, hour;
};

// The date and hour `hours` hours (either sign) after 00:00 of (month, day).
inline DateHour move_hours(int month, int day, long hours) {
  long days = hours / 24;
  long hour = hours % 24;
  if (hour < 0) {
    hour += 24;
    --days;
  }
  DateHour d{month, day, static_cast<int>(hour)};
  for (; days > 0; --days) {
    if (++d.day > days_in_month(d.month)) {
      d.day = 1;
      d.month = d.month == 12 ? 1 : d.month + 1;
    }
  }
  for (; days < 0; ++days) {
    if (--d.day < 1) {
      d.month = d.month == 1 ? 12 : d.month - 1;
      d.day = days_in_month(d.month);
    }
  }
  return d;
}

// Two hours later.
inline DateHour next_sample(DateHour d) {
  d.hour += 2;
  if (d.hour >= 24) {
    d.hour -= 24;
    if (++d.day > days_in_month(d.month)) {
      d.day = 1;
      d.month = d.month == 12 ? 1 : d.month + 1;
    }
  }
  return d;
}

}  // namespace tarvo
