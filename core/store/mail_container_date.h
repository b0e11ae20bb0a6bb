// The "Date:" header of mail containers.
//
// Written as "dd.mm.yyyy hh:nn:ss" in local time. Read in that form and as
// "d.m.yyyy h:nn[:ss]", "yyyy-mm-dd hh:nn:ss" and "m/d/yyyy h:nn[:ss]
// [AM|PM]"; any other text stands for the current local time.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/records.h"

namespace qovra {

// A source of the current local time. Writers and readers take one so that
// tests can fix the clock; an empty TClock means LocalNow.
using TClock = std::function<TDateTime()>;

// The current local date and time, with milliseconds.
TDateTime LocalNow();

// "dd.mm.yyyy hh:nn:ss" of time, milliseconds left out. A time outside the years 1 to 9999 gives
// "30.12.1899 00:00:00", the text of time 0.
std::string MailDateText(TDateTime time);

// Reads one of the forms above. Returns false (result untouched) for any
// other text or for a date or time that does not exist.
[[nodiscard]] bool TryParseMailDate(std::string_view text, TDateTime& result);

// The date of text, or clock() (LocalNow when clock is empty) when the text
// is in none of the forms above.
TDateTime MailDateFromText(std::string_view text, const TClock& clock);

}  // namespace qovra
