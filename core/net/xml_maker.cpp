#include "net/xml_maker.h"

#include "base/base64.h"

namespace qovra {

std::string XmlEscapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '"':
        out += "&quot;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

TXMLMaker::TXMLMaker(TStream& stream, std::string_view root_name)
    : stream_(stream), root_(root_name) {}

void TXMLMaker::Write(std::string_view text) {
  if (ok_ && !stream_.WriteString(text)) ok_ = false;
}

void TXMLMaker::OpenRoot() {
  OpenTag(root_);
}

void TXMLMaker::CloseRoot() {
  CloseTag(root_);
}

void TXMLMaker::OpenTag(std::string_view name) {
  std::string text = "<";
  text += name;
  text += ">";
  Write(text);
}

void TXMLMaker::CloseTag(std::string_view name) {
  std::string text = "</";
  text += name;
  text += ">";
  Write(text);
}

void TXMLMaker::AddValue(std::string_view name, std::string_view escaped_value, bool close) {
  std::string text = "<";
  text += name;
  text += " val=\"";
  text += escaped_value;
  text += close ? "\"/>" : "\">";
  Write(text);
}

void TXMLMaker::AddString(std::string_view name, std::string_view value, bool encode, bool close) {
  AddValue(name, encode ? Base64Encode(value) : XmlEscapeValue(value), close);
}

void TXMLMaker::AddInteger(std::string_view name, int32_t value, bool close) {
  AddValue(name, std::to_string(value), close);
}

void TXMLMaker::AddInt64(std::string_view name, bool close, int64_t value) {
  AddValue(name, std::to_string(value), close);
}

void TXMLMaker::WriteRaw(std::string_view text) {
  Write(text);
}

}  // namespace qovra
