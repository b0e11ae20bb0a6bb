// The address book's shared names: result codes, the three process-wide
// values of the module and the display name of a contact.
//
// Interface thread only.
#pragma once

#include <string>

#include "base/records.h"

namespace qovra {

// Results of SaveContact, SaveGroup, MoveContactToGroup and the duplicate
// dialog (ShowDupDialog answers 50 to 53 and 2, never 54).
constexpr int kAbStored = 1;        // inserted, updated or moved
constexpr int kAbRefused = 2;       // refused (empty record, existing group) or cancelled
constexpr int kAbReplaced = 50;     // duplicate replaced (Replace)
constexpr int kAbReplacedAll = 51;  // duplicate replaced (Replace all, or remembered)
constexpr int kAbSkipped = 52;      // duplicate skipped (Skip), or the stored one is identical
constexpr int kAbSkippedAll = 53;   // duplicate skipped (Skip all, or remembered)
constexpr int kAbGroupMerged = 54;  // group merged into the existing one of that name
// A statement failed: the reason is in the database's LastError(), and
// nothing of the call stays written.
constexpr int kAbDbError = -1;

// The last answer of the duplicate dialog; 0 = none yet. An import sets it
// to 0 when it starts; a remembered kAbReplacedAll or kAbSkippedAll is then
// applied without asking until the next import.
extern int DupChoice;
// Set when the user cancels SaveContact's duplicate question; the import
// reads and resets it.
extern bool ImportCancelled;
// Set by the import when it stored a contact or group; read and reset by
// the import.
extern bool ImportChanged;

// The last name, a blank and the first name, trimmed; when the middle name
// is not empty, a blank and the middle name follow and the whole is trimmed
// again. The name column everywhere and the name of recipient texts.
std::u16string ContactDisplayName(const TContact& contact);

// True when first, middle and last name, address, company and job title
// are equal, case-sensitively. Both sides are compared with their quotes
// masked (MaskQuotes), so a record read from the book and one typed by the
// user compare equal when they would be stored alike.
bool ContactsEqual(const TContact& a, const TContact& b);

}  // namespace qovra
