#include "qovra/addressbook/contacts_file_reader.h"

#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <vector>

#include "base/utf.h"
#include "xml_text.h"

namespace qovra {

using contacts_detail::DecodeXmlBytes;
using contacts_detail::DecodeXmlValue;
using contacts_detail::TDecodeFault;
using contacts_detail::TValueFault;

std::string_view ContactsFileFaultName(TContactsFileFault fault) {
  switch (fault) {
    case TContactsFileFault::None:
      return "none";
    case TContactsFileFault::Unreadable:
      return "unreadable";
    case TContactsFileFault::TooLarge:
      return "too large";
    case TContactsFileFault::UnknownEncoding:
      return "unknown encoding";
    case TContactsFileFault::Undecodable:
      return "undecodable";
    case TContactsFileFault::NotWellFormed:
      return "not well-formed";
    case TContactsFileFault::BareMarkup:
      return "bare markup";
    case TContactsFileFault::ValueTooLong:
      return "value too long";
    case TContactsFileFault::TooDeep:
      return "too deep";
    case TContactsFileFault::NotAddressBook:
      return "not an address book";
    case TContactsFileFault::Empty:
      return "empty";
  }
  return "unknown";
}

namespace {

// Line ends normalised, CDATA kept; references are resolved here, not by
// the parser, so that a bare "&" is seen. No DTD, no entity expansion.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_eol;

bool NameIs(const pugi::xml_node& node, std::string_view name) {
  if (node.type() != pugi::node_element) return false;
  const std::string_view n = node.name();
  if (n.size() != name.size()) return false;
  for (size_t i = 0; i < n.size(); ++i) {
    char c = n[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i]) return false;
  }
  return true;
}

// The resolved value of a checked attribute.
std::string Value(const pugi::xml_node& node, const char* name) {
  std::string out;
  (void)DecodeXmlValue(node.attribute(name).value(), out);
  return out;
}

std::u16string WideValue(const pugi::xml_node& node, const char* name) {
  return Utf8ToUtf16(Value(node, name));
}

TContact ContactOf(const pugi::xml_node& node) {
  TContact c;
  c.Id = -1;
  c.FirstName = WideValue(node, "firstname");
  c.MiddleName = WideValue(node, "middlename");
  c.LastName = WideValue(node, "lastname");
  c.Email = Value(node, "email");
  c.Company = WideValue(node, "company");
  c.JobTitle = WideValue(node, "jobtitle");
  c.CompanyId = -1;
  c.JobTitleId = -1;
  c.IsContact = true;
  return c;
}

TContact GroupOf(const pugi::xml_node& node) {
  TContact g;
  g.Id = -1;
  g.FirstName = WideValue(node, "name");
  g.IsContact = false;
  return g;
}

}  // namespace

struct TContactsFileReader::Impl {
  std::string text;  // the decoded document, parsed in place
  pugi::xml_document doc;
  pugi::xml_node book;
  bool read = false;
  TContactsFileFault fault = TContactsFileFault::None;
  std::string detail;
  size_t items = 0;

  bool Fail(TContactsFileFault f, std::string d) {
    fault = f;
    detail = std::move(d);
    doc.reset();
    book = pugi::xml_node();
    text.clear();
    items = 0;
    return false;
  }

  // Every value of the document, taken or not: no bare markup, no value
  // over the limit. Counts the elements a full walk meets.
  bool CheckValues() {
    std::string value;
    const auto check = [&](std::string_view raw, const pugi::xml_node& where,
                           const char* attribute) {
      const TValueFault f = DecodeXmlValue(raw, value);
      if (f == TValueFault::None && value.size() <= kMaxContactsValueBytes) return true;
      const std::string place = std::string("in <") + where.name() + ">" +
                                (attribute ? std::string(" attribute ") + attribute : "") +
                                " at offset " + std::to_string(where.offset_debug());
      switch (f) {
        case TValueFault::BareAmpersand:
          return Fail(TContactsFileFault::BareMarkup, "a bare & " + place);
        case TValueFault::BareLessThan:
          return Fail(TContactsFileFault::BareMarkup, "a bare < " + place);
        case TValueFault::BadCharReference:
          return Fail(TContactsFileFault::NotWellFormed,
                      "a reference to a forbidden character " + place);
        case TValueFault::None:
          break;
      }
      return Fail(TContactsFileFault::ValueTooLong,
                  std::to_string(value.size()) + " bytes " + place);
    };
    struct TFrame {
      pugi::xml_node next;
      bool takes;  // contact and group children are taken
      int depth;   // of taken groups around the children
    };
    std::vector<TFrame> stack{{doc.first_child(), false, 0}};
    while (!stack.empty()) {
      TFrame& frame = stack.back();
      if (!frame.next) {
        stack.pop_back();
        continue;
      }
      const pugi::xml_node node = frame.next;
      const bool takes = frame.takes;
      const int depth = frame.depth;
      frame.next = node.next_sibling();
      if (node.type() == pugi::node_pcdata) {
        if (!check(node.value(), node.parent(), nullptr)) return false;
        continue;
      }
      if (node.type() != pugi::node_element) continue;
      for (const pugi::xml_attribute a : node.attributes())
        if (!check(a.value(), node, a.name())) return false;
      const bool group = takes && NameIs(node, "group");
      if (group || (takes && NameIs(node, "contact"))) ++items;
      if (group && depth >= kMaxContactsGroupDepth) {
        return Fail(TContactsFileFault::TooDeep, "a group " + std::to_string(depth + 1) +
                                                     " levels deep at offset " +
                                                     std::to_string(node.offset_debug()));
      }
      stack.push_back({node.first_child(), group || node == book, depth + (group ? 1 : 0)});
    }
    return true;
  }
};

TContactsFileReader::TContactsFileReader() : impl_(std::make_unique<Impl>()) {}
TContactsFileReader::~TContactsFileReader() = default;

TContactsFileFault TContactsFileReader::Fault() const {
  return impl_->fault;
}

const std::string& TContactsFileReader::Detail() const {
  return impl_->detail;
}

size_t TContactsFileReader::ItemCount() const {
  return impl_->items;
}

bool TContactsFileReader::ReadText(std::string_view bytes) {
  Impl& m = *impl_;
  if (m.read) return m.Fail(TContactsFileFault::Unreadable, "a reader reads one file");
  m.read = true;
  std::string detail;
  switch (DecodeXmlBytes(bytes, m.text, detail)) {
    case TDecodeFault::None:
      break;
    case TDecodeFault::UnknownEncoding:
      return m.Fail(TContactsFileFault::UnknownEncoding, detail);
    case TDecodeFault::Undecodable:
      return m.Fail(TContactsFileFault::Undecodable, detail);
    case TDecodeFault::ControlCharacter:
      return m.Fail(TContactsFileFault::NotWellFormed, detail);
  }
  const pugi::xml_parse_result parsed =
      m.doc.load_buffer_inplace(m.text.data(), m.text.size(), kParseOptions, pugi::encoding_utf8);
  if (!parsed) {
    return m.Fail(
        TContactsFileFault::NotWellFormed,
        std::string(parsed.description()) + " at offset " + std::to_string(parsed.offset));
  }
  m.book = m.doc.document_element();
  if (!NameIs(m.book, "addressbook")) {
    return m.Fail(TContactsFileFault::NotAddressBook,
                  std::string("the document element is <") + m.book.name() + ">");
  }
  if (!m.CheckValues()) return false;
  if (!m.book.first_child()) return m.Fail(TContactsFileFault::Empty, "no child nodes");
  return true;
}

bool TContactsFileReader::ReadFile(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return impl_->Fail(TContactsFileFault::Unreadable, path + ": " + ec.message());
  if (size > static_cast<uintmax_t>(kMaxContactsFileSize)) {
    return impl_->Fail(TContactsFileFault::TooLarge, path + ": " + std::to_string(size) + " bytes");
  }
  std::string bytes(static_cast<size_t>(size), '\0');
  std::ifstream in(path, std::ios::binary);
  if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())) ||
      in.peek() != std::ifstream::traits_type::eof()) {
    return impl_->Fail(TContactsFileFault::Unreadable, path + ": cannot be read in full");
  }
  return ReadText(bytes);
}

bool TContactsFileReader::Walk(const TContactsFileVisitor& visitor) const {
  const Impl& m = *impl_;
  if (!m.book) return true;
  struct TFrame {
    pugi::xml_node next;
    bool group;  // OnGroupEnd when it is done
  };
  std::vector<TFrame> stack{{m.book.first_child(), false}};
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    if (!frame.next) {
      const bool group = frame.group;
      stack.pop_back();
      if (group && visitor.OnGroupEnd) visitor.OnGroupEnd();
      continue;
    }
    const pugi::xml_node node = frame.next;
    frame.next = node.next_sibling();
    if (NameIs(node, "contact")) {
      if (visitor.OnContact && !visitor.OnContact(ContactOf(node))) return false;
    } else if (NameIs(node, "group")) {
      const TGroupStep step = visitor.OnGroup ? visitor.OnGroup(GroupOf(node)) : TGroupStep::Enter;
      if (step == TGroupStep::Stop) return false;
      if (step == TGroupStep::Enter) stack.push_back({node.first_child(), true});
    }
  }
  return true;
}

}  // namespace qovra
