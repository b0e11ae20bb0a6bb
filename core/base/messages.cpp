#include "base/messages.h"

#include <algorithm>
#include <map>

namespace qovra {
namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

struct KeyLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      const char x = LowerAscii(a[i]);
      const char y = LowerAscii(b[i]);
      if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
  }
};

using MsgTable = std::map<std::string, std::string, KeyLess>;

MsgTable& Table() {
  static MsgTable table;
  return table;
}

bool StartsWord(char c) {
  return static_cast<unsigned char>(c) <= 96;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

TWindowHandle OrActive(TWindowHandle owner) {
  return owner ? owner : MessageUi().ActiveWindow();
}

}  // namespace

std::string MsgTextFromKey(std::string_view key) {
  std::string out;
  bool first_word = true;
  bool started = false;
  for (size_t i = 0; i < key.size(); ++i) {
    const char c = key[i];
    if (StartsWord(c)) {
      const bool continues_number = started && IsDigit(c) && i > 0 && IsDigit(key[i - 1]);
      if (!continues_number) {
        if (started) {
          out += ' ';
          first_word = false;
        }
        started = true;
      }
      out += first_word ? c : LowerAscii(c);
    } else if (started) {
      out += first_word ? c : LowerAscii(c);
    }
  }
  if (out.empty()) return std::string(key);
  return out;
}

std::string GetMsg(std::string_view key) {
  const MsgTable& table = Table();
  if (!table.empty()) {
    auto it = table.find(key);
    if (it != table.end()) return it->second;
  }
  return MsgTextFromKey(key);
}

void SetMsg(std::string_view key, std::string_view value) {
  Table().insert_or_assign(std::string(key), std::string(value));
}

void ClearMsgTable() {
  Table().clear();
}

void ReplaceMsgTable(const std::vector<std::pair<std::string, std::string>>& entries) {
  MsgTable& table = Table();
  table.clear();
  for (const auto& [key, value] : entries) table.emplace(key, value);
}

void ShowWarning(TWindowHandle owner, std::string_view key) {
  IMessageUi& ui = MessageUi();
  ui.ShowMsgDialog(owner ? owner : ui.ActiveFormWindow(), GetMsg(key), 48, "OK", "", "");
}

void ShowInfo(TWindowHandle owner, std::string_view key) {
  MessageUi().ShowMsgDialog(OrActive(owner), GetMsg(key), 64, "OK", "", "");
}

bool AskYesNo(TWindowHandle owner, std::string_view key) {
  return MessageUi().ShowMsgDialog(OrActive(owner), GetMsg(key), 36, GetMsg("btnYes"),
                                   GetMsg("btnNo"), "") == kMsgResultYes;
}

int AskYesNoCancel(TWindowHandle owner, std::string_view key) {
  return MessageUi().ShowMsgDialog(OrActive(owner), GetMsg(key), 40, GetMsg("btnYes"),
                                   GetMsg("btnNo"), GetMsg("btnCancel"));
}

int ShowMessageText(TWindowHandle owner, std::string_view text, int flags) {
  const std::string body(text);
  if (flags & kMsgButtonsYesNo) {
    return MessageUi().ShowMsgDialog(OrActive(owner), body, flags, GetMsg("btnYes"),
                                     GetMsg("btnNo"), "");
  }
  return MessageUi().ShowMsgDialog(OrActive(owner), body, flags, "OK", "", "");
}

}  // namespace qovra
