// TXMLMaker: writes the request XML straight into a stream.
//
// The output is compact: no declaration, no indentation, no line breaks.
// Every element carries at most the one attribute val. Names are written as
// given (callers pass fixed names); values are escaped: '"' as "&quot;",
// '<' as "&lt;", '>' as "&gt;" and '&' as "&amp;", so a value never breaks
// the document. Values without those characters come out unchanged.
// WriteRaw writes its text as it is.
//
//   TMemoryStream s;
//   TXMLMaker xml(s, "request");
//   xml.OpenRoot();
//   xml.AddInteger("cmd", 162, true);
//   xml.AddString("login", "user", false, true);
//   xml.CloseRoot();   // <request><cmd val="162"/><login val="user"/></request>
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/stream.h"

namespace qovra {

class TXMLMaker {
 public:
  // Keeps stream (not owned; it must outlive the writer) and the root name.
  TXMLMaker(TStream& stream, std::string_view root_name);

  // "<" root ">" and "</" root ">".
  void OpenRoot();
  void CloseRoot();
  // "<" name ">" and "</" name ">".
  void OpenTag(std::string_view name);
  void CloseTag(std::string_view name);

  // <name val="value"/> when close, else <name val="value"> (the caller
  // writes the children and calls CloseTag). With encode, the value is
  // written as its Base64 text.
  void AddString(std::string_view name, std::string_view value, bool encode, bool close);
  // The same with a decimal 32-bit or 64-bit value. (AddInt64 takes close
  // before the value.)
  void AddInteger(std::string_view name, int32_t value, bool close);
  void AddInt64(std::string_view name, bool close, int64_t value);

  void WriteRaw(std::string_view text);

  // False once a write to the stream fell short; the writer then writes
  // nothing more.
  [[nodiscard]] bool Ok() const { return ok_; }

 private:
  void Write(std::string_view text);
  void AddValue(std::string_view name, std::string_view escaped_value, bool close);

  TStream& stream_;
  std::string root_;
  bool ok_ = true;
};

// value with '"', '<', '>' and '&' replaced by their entities.
std::string XmlEscapeValue(std::string_view value);

}  // namespace qovra
