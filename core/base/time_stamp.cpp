#include "base/time_stamp.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace qovra {
namespace {

constexpr int64_t kMsPerDay = 86400000;
// Days from 0001-01-01 (proleptic Gregorian) to 1899-12-30.
constexpr int64_t kDaysTo1899 = 693593;
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDays = 25569;

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days since 0001-01-01 of a valid date.
int64_t DaysFromCivil(int y, int m, int d) {
  const int64_t py = y - 1;
  int64_t days = py * 365 + py / 4 - py / 100 + py / 400;
  for (int k = 1; k < m; ++k) days += DaysInMonth(y, k);
  return days + d - 1;
}

// Inverse of DaysFromCivil for 0 <= days.
void CivilFromDays(int64_t days, int& y, int& m, int& d) {
  // 400-year cycles of 146097 days, then centuries, 4-year cycles, years.
  int64_t n = days;
  const int64_t q400 = n / 146097;
  n %= 146097;
  int64_t q100 = n / 36524;
  if (q100 == 4) q100 = 3;
  n -= q100 * 36524;
  const int64_t q4 = n / 1461;
  n %= 1461;
  int64_t q1 = n / 365;
  if (q1 == 4) q1 = 3;
  n -= q1 * 365;
  y = static_cast<int>(q400 * 400 + q100 * 100 + q4 * 4 + q1 + 1);
  m = 1;
  while (n >= DaysInMonth(y, m)) {
    n -= DaysInMonth(y, m);
    ++m;
  }
  d = static_cast<int>(n) + 1;
}

// A field of text by 1-based position and length: its decimal value, or 0
// when it is empty or not a number.
int Field(std::string_view text, size_t pos1, size_t len) {
  if (pos1 == 0 || pos1 > text.size()) return 0;
  const std::string_view f = text.substr(pos1 - 1, len);
  if (f.empty()) return 0;
  int v = 0;
  for (char c : f) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int millisecond, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return false;
  }
  const double date = static_cast<double>(DaysFromCivil(year, month, day) - kDaysTo1899);
  const double time =
      static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond) /
      static_cast<double>(kMsPerDay);
  // Before 1899-12-30 the time of day counts away from zero, as the date-time
  // type has it.
  result = date < 0 ? date - time : date + time;
  return true;
}

bool DecodeDateTime(TDateTime time, TDateTimeParts& parts) {
  if (!std::isfinite(time)) return false;
  const double whole = std::trunc(time);
  // Years 1 to 9999 span these day numbers.
  if (whole < -static_cast<double>(kDaysTo1899) || whole > 2958465.0) return false;
  int64_t days = static_cast<int64_t>(whole) + kDaysTo1899;
  int64_t ms = std::llround(std::fabs(time - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += time < 0 ? -1 : 1;
  }
  if (days < 0 || days > 3652058) return false;
  CivilFromDays(days, parts.year, parts.month, parts.day);
  parts.millisecond = static_cast<int>(ms % 1000);
  const int64_t secs = ms / 1000;
  parts.second = static_cast<int>(secs % 60);
  parts.minute = static_cast<int>((secs / 60) % 60);
  parts.hour = static_cast<int>(secs / 3600);
  return true;
}

std::string DateTimeToStamp(bool readable, TDateTime time) {
  TDateTimeParts p{};
  if (!DecodeDateTime(time, p)) {
    time = 0;
    (void)DecodeDateTime(0, p);
  }
  if (readable && time == 0) return std::string(kZeroTimeText);
  char buf[32];
  if (readable) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
  } else {
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
  }
  return buf;
}

TDateTime StampToDateTime(std::string_view text) {
  if (text.size() <= 7) return 0;
  int y, mo, d, h = 0, mi = 0, s = 0;
  if (text.find_first_of("-.") != std::string_view::npos) {
    if (text.size() < 10) return 0;
    y = Field(text, 1, 4);
    mo = Field(text, 6, 2);
    d = Field(text, 9, 2);
    if (text.size() > 10) {
      h = Field(text, 12, 2);
      mi = Field(text, 15, 2);
      s = Field(text, 18, 2);
    }
  } else {
    y = Field(text, 1, 4);
    mo = Field(text, 5, 2);
    d = Field(text, 7, 2);
    if (text.size() > 8) {
      h = Field(text, 9, 2);
      mi = Field(text, 11, 2);
      s = Field(text, 13, 2);
    }
  }
  if (y == 0) return 0;
  TDateTime result = 0;
  if (!TryEncodeDateTime(y, mo, d, h, mi, s, 0, result)) return 0;
  return result;
}

TDateTime NowUTC() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const int64_t ms = static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  return static_cast<double>(kUnixEpochDays) +
         static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

}  // namespace qovra
