#include "qovra/addressbook/address_book.h"

#include "base/quoting.h"
#include "base/text_utils.h"
#include "base/utf.h"

namespace qovra {

int DupChoice = 0;
bool ImportCancelled = false;
bool ImportChanged = false;

std::u16string ContactDisplayName(const TContact& contact) {
  std::u16string name = TrimBlanksW(contact.LastName + u" " + contact.FirstName);
  if (!contact.MiddleName.empty()) name = TrimBlanksW(name + u" " + contact.MiddleName);
  return name;
}

namespace {

std::string Stored(std::u16string_view text) {
  return MaskQuotes(Utf16ToUtf8(text));
}

}  // namespace

bool ContactsEqual(const TContact& a, const TContact& b) {
  return Stored(a.FirstName) == Stored(b.FirstName) &&
         Stored(a.MiddleName) == Stored(b.MiddleName) && Stored(a.LastName) == Stored(b.LastName) &&
         MaskQuotes(a.Email) == MaskQuotes(b.Email) && Stored(a.Company) == Stored(b.Company) &&
         Stored(a.JobTitle) == Stored(b.JobTitle);
}

}  // namespace qovra
