// Fuzz target: the contacts file reader on arbitrary bytes. A file that
// reads must keep its promises: every value within kMaxContactsValueBytes,
// groups closed in order and nested no deeper than kMaxContactsGroupDepth,
// as many elements walked as ItemCount says; and written back in the
// export's form it must read again to the same groups and contacts.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf.h"
#include "qovra/addressbook/contacts_file.h"
#include "qovra/addressbook/contacts_file_reader.h"

namespace {

enum class TKind { Contact, GroupStart, GroupEnd };

// One walked element: its kind and its texts (UTF-8).
struct TItem {
  TKind kind;
  std::array<std::string, 6> texts;
  bool operator==(const TItem&) const = default;
};

void Check(bool promise) {
  if (!promise) std::abort();
}

std::vector<TItem> Walk(const qovra::TContactsFileReader& reader) {
  using Kind = TKind;
  std::vector<TItem> items;
  int depth = 0;
  size_t elements = 0;
  const auto within = [](const std::string& text) {
    Check(text.size() <= qovra::kMaxContactsValueBytes);
    return text;
  };
  qovra::TContactsFileVisitor visitor;
  visitor.OnGroup = [&](const qovra::TContact& group) {
    ++elements;
    Check(group.Id == -1 && !group.IsContact);
    items.push_back({Kind::GroupStart, {within(qovra::Utf16ToUtf8(group.FirstName))}});
    Check(++depth <= qovra::kMaxContactsGroupDepth);
    return qovra::TGroupStep::Enter;
  };
  visitor.OnContact = [&](const qovra::TContact& c) {
    ++elements;
    Check(c.Id == -1 && c.IsContact && c.CompanyId == -1 && c.JobTitleId == -1);
    items.push_back(
        {Kind::Contact,
         {within(qovra::Utf16ToUtf8(c.FirstName)), within(qovra::Utf16ToUtf8(c.MiddleName)),
          within(qovra::Utf16ToUtf8(c.LastName)), within(c.Email),
          within(qovra::Utf16ToUtf8(c.Company)), within(qovra::Utf16ToUtf8(c.JobTitle))}});
    return true;
  };
  visitor.OnGroupEnd = [&] {
    Check(--depth >= 0);
    items.push_back({Kind::GroupEnd, {}});
  };
  Check(reader.Walk(visitor));
  Check(depth == 0);
  Check(elements == reader.ItemCount());
  return items;
}

std::string WriteBack(const std::vector<TItem>& items) {
  std::string text(qovra::kContactsFileOpening);
  for (const TItem& item : items) {
    const auto& t = item.texts;
    switch (item.kind) {
      case TKind::Contact:
        qovra::AppendContactElement(text, {t[0], t[1], t[2], t[3], t[4], t[5]});
        break;
      case TKind::GroupStart:
        qovra::AppendGroupOpening(text, t[0]);
        break;
      case TKind::GroupEnd:
        text += qovra::kGroupClosing;
        break;
    }
  }
  text += qovra::kContactsFileClosing;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  qovra::TContactsFileReader reader;
  if (!reader.ReadText(bytes)) {
    // A refusal always says why.
    Check(reader.Fault() != qovra::TContactsFileFault::None && !reader.Detail().empty());
    return 0;
  }
  const std::vector<TItem> items = Walk(reader);
  if (items.empty()) return 0;  // nothing taken: the written form would be empty
  qovra::TContactsFileReader again;
  Check(again.ReadText(WriteBack(items)));
  Check(Walk(again) == items);
  return 0;
}
