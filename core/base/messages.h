// Message keys, the process-wide message table and the message-box wrappers.
//
// Every text the program shows is named by a message key (such as
// "msgConnectionError") and looked up with GetMsg. The table starts empty;
// the language loader fills it. Keys are compared without regard to ASCII
// case. The wrappers show their text through the message seam (ui_seam.h).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "seam/ui_seam.h"

namespace qovra {

// The table's value for key when the table holds it (an empty value stays
// empty). Otherwise a text derived from the key: the lower-case prefix (such
// as "msg") is dropped, a word starts at every character whose code is 96 or
// below (a run of digits stays one word), the first word keeps its case and
// every later word is lower-cased, and the words are joined by single blanks;
// "msgConnectionError" gives "Connection error", "msgServerError15" gives
// "Server error 15". A key that yields no word is returned as it is.
std::string GetMsg(std::string_view key);

// The key-derived text alone (step 2 and 3 above), whatever the table holds.
std::string MsgTextFromKey(std::string_view key);

// Sets one entry, replacing an entry with the same key.
void SetMsg(std::string_view key, std::string_view value);
// Empties the table.
void ClearMsgTable();
// Replaces the whole table with entries; of repeated keys the first counts.
void ReplaceMsgTable(const std::vector<std::pair<std::string, std::string>>& entries);

// Warning (flags 48) with the text of key and one button "OK". A null owner
// means the active form's window.
void ShowWarning(TWindowHandle owner, std::string_view key);
// Information (flags 64) with the text of key and one button "OK". A null
// owner means the active window (so for the rest below).
void ShowInfo(TWindowHandle owner, std::string_view key);
// Question (flags 36) with buttons btnYes and btnNo; true when Yes was chosen
// (Esc reads as No).
bool AskYesNo(TWindowHandle owner, std::string_view key);
// Question (flags 40) with buttons btnYes, btnNo and btnCancel; returns the
// dialog's result (kMsgResultYes, kMsgResultNo or kMsgResultCancel).
int AskYesNoCancel(TWindowHandle owner, std::string_view key);
// Shows text as given (no lookup) with flags; buttons btnYes and btnNo when
// flags contain 4, else one button "OK". Returns the dialog's result.
int ShowMessageText(TWindowHandle owner, std::string_view text, int flags);

}  // namespace qovra
