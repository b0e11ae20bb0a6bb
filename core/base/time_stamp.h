// Time stamps: the time text of the databases and signature containers.
#pragma once

#include <string>
#include <string_view>

#include "base/records.h"

namespace qovra {

// readable false: "yyyymmddhhnnss"; readable true: "yyyy-mm-dd hh:nn:ss",
// and exactly "0000-00-00 00:00:00" when time is 0. A time that is not a
// finite date in the years 1 to 9999 is written as time 0.
std::string DateTimeToStamp(bool readable, TDateTime time);

// Reads "yyyy-mm-dd hh:nn:ss" (any text containing "-" or ".", read by
// positions) or "yyyymmddhhnnss". Gives 0 for texts of 7 characters or
// fewer, a readable text shorter than 10 characters, a year of 0 and any
// field combination that is not a valid date and time; a field that is not
// a decimal number counts as 0. The time part is optional.
TDateTime StampToDateTime(std::string_view text);

// The current date and time in Coordinated Universal Time, with milliseconds.
TDateTime NowUTC();

// Builds a date-time from its parts; false (and result untouched) when they
// are not a valid date in the years 1 to 9999 or not a valid time of day.
[[nodiscard]] bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                                     int millisecond, TDateTime& result);

struct TDateTimeParts {
  int year, month, day, hour, minute, second, millisecond;
};

// Splits a date-time into its parts, the milliseconds rounded; false when
// time is not finite or outside the years 1 to 9999.
[[nodiscard]] bool DecodeDateTime(TDateTime time, TDateTimeParts& parts);

}  // namespace qovra
