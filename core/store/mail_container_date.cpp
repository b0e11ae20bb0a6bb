#include "store/mail_container_date.h"

#include <cstdio>
#include <ctime>

#include "base/time_stamp.h"

namespace qovra {
namespace {

// A cursor over a date text.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  // min_len to max_len decimal digits.
  bool Number(size_t min_len, size_t max_len, int& value) {
    size_t n = 0;
    int v = 0;
    while (pos_ + n < text_.size() && n < max_len && text_[pos_ + n] >= '0' &&
           text_[pos_ + n] <= '9') {
      v = v * 10 + (text_[pos_ + n] - '0');
      ++n;
    }
    if (n < min_len) return false;
    pos_ += n;
    value = v;
    return true;
  }
  bool Char(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool Peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  // "AM" or "PM" without regard to case; pm tells which.
  bool Meridiem(bool& pm) {
    if (text_.size() - pos_ < 2) return false;
    const char a = static_cast<char>(text_[pos_] & ~0x20);
    const char m = static_cast<char>(text_[pos_ + 1] & ~0x20);
    if ((a != 'A' && a != 'P') || m != 'M') return false;
    pm = a == 'P';
    pos_ += 2;
    return true;
  }
  bool AtEnd() const { return pos_ == text_.size(); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

struct Fields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// h:nn[:ss] with the hour of one or two digits.
bool ReadShortTime(Scanner& s, Fields& f) {
  if (!s.Number(1, 2, f.hour) || !s.Char(':') || !s.Number(2, 2, f.minute)) return false;
  if (s.Peek(':')) return s.Char(':') && s.Number(2, 2, f.second);
  return true;
}

// d.m.yyyy h:nn[:ss], which includes dd.mm.yyyy hh:nn:ss.
bool ReadDotted(std::string_view text, Fields& f) {
  Scanner s(text);
  return s.Number(1, 2, f.day) && s.Char('.') && s.Number(1, 2, f.month) && s.Char('.') &&
         s.Number(4, 4, f.year) && s.Char(' ') && ReadShortTime(s, f) && s.AtEnd();
}

// yyyy-mm-dd hh:nn:ss
bool ReadIso(std::string_view text, Fields& f) {
  Scanner s(text);
  return s.Number(4, 4, f.year) && s.Char('-') && s.Number(2, 2, f.month) && s.Char('-') &&
         s.Number(2, 2, f.day) && s.Char(' ') && s.Number(2, 2, f.hour) && s.Char(':') &&
         s.Number(2, 2, f.minute) && s.Char(':') && s.Number(2, 2, f.second) && s.AtEnd();
}

// m/d/yyyy h:nn[:ss] [AM|PM]
bool ReadUs(std::string_view text, Fields& f) {
  Scanner s(text);
  if (!(s.Number(1, 2, f.month) && s.Char('/') && s.Number(1, 2, f.day) && s.Char('/') &&
        s.Number(4, 4, f.year) && s.Char(' ') && ReadShortTime(s, f))) {
    return false;
  }
  if (s.AtEnd()) return true;
  bool pm = false;
  if (!s.Char(' ') || !s.Meridiem(pm) || !s.AtEnd()) return false;
  if (f.hour < 1 || f.hour > 12) return false;
  f.hour = f.hour % 12 + (pm ? 12 : 0);
  return true;
}

}  // namespace

TDateTime LocalNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  const time_t secs = ts.tv_sec;
  TDateTime result = 0;
  if (localtime_r(&secs, &local) == nullptr) return NowUTC();
  if (!TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                         static_cast<int>(ts.tv_nsec / 1000000), result)) {
    return NowUTC();
  }
  return result;
}

std::string MailDateText(TDateTime time) {
  TDateTimeParts p{};
  if (!DecodeDateTime(time, p)) (void)DecodeDateTime(0, p);
  // The parts come back normalised (milliseconds carried into the seconds),
  // and the milliseconds are simply left out.
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour,
                p.minute, p.second);
  return buf;
}

bool TryParseMailDate(std::string_view text, TDateTime& result) {
  Fields f;
  if (!ReadDotted(text, f) && !(f = Fields{}, ReadIso(text, f)) &&
      !(f = Fields{}, ReadUs(text, f))) {
    return false;
  }
  return TryEncodeDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second, 0, result);
}

TDateTime MailDateFromText(std::string_view text, const TClock& clock) {
  TDateTime result = 0;
  if (TryParseMailDate(text, result)) return result;
  return clock ? clock() : LocalNow();
}

}  // namespace qovra
