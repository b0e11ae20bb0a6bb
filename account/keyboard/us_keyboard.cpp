#include "qovra/account/us_keyboard.h"

#include <QGuiApplication>
#include <array>
#include <string>

#ifdef QOVRA_HAVE_XKB
#include <X11/XKBlib.h>
#include <X11/extensions/XKBstr.h>
#endif

namespace qovra::account {
namespace {

// Parts of a symbols name that are options, not layouts.
constexpr std::array<std::string_view, 26> kOptionParts = {
    "pc",        "inet",      "group",  "level3", "level5",   "ctrl",    "capslock",
    "altwin",    "eurosign",  "keypad", "kpdl",   "nbsp",     "lv3",     "lv5",
    "shift",     "srvr_ctrl", "japan",  "korean", "mod_led",  "grp_led", "compose",
    "terminate", "apple",     "evdev",  "typo",   "rupeesign"};

bool IsOption(std::string_view name) {
  for (std::string_view o : kOptionParts) {
    if (name == o) return true;
  }
  return false;
}

}  // namespace

std::optional<int> UsGroupFromSymbols(std::string_view symbols) {
  int next_unnumbered = 0;
  size_t start = 0;
  while (start <= symbols.size()) {
    size_t end = symbols.find('+', start);
    if (end == std::string_view::npos) end = symbols.size();
    std::string_view part = symbols.substr(start, end - start);
    start = end + 1;

    int group = -1;
    if (const size_t colon = part.find(':'); colon != std::string_view::npos) {
      const std::string_view number = part.substr(colon + 1);
      part = part.substr(0, colon);
      if (number.size() == 1 && number[0] >= '1' && number[0] <= '4') group = number[0] - '1';
    }
    std::string_view name = part.substr(0, part.find('('));
    if (name.empty() || IsOption(name)) continue;
    if (group < 0) {
      // Only the first layout goes without a number; later unnumbered parts
      // are options this list does not know.
      if (next_unnumbered > 0) continue;
      group = next_unnumbered++;
    }
    if (name == "us") return group;
  }
  return std::nullopt;
}

bool SwitchToUsKeyboardLayout() {
#ifdef QOVRA_HAVE_XKB
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return false;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  bool locked = false;
  XkbDescPtr desc = XkbAllocKeyboard();
  if (desc && XkbGetNames(display, XkbSymbolsNameMask, desc) == Success && desc->names &&
      desc->names->symbols != None) {
    char* name = XGetAtomName(display, desc->names->symbols);
    if (name) {
      if (const std::optional<int> group = UsGroupFromSymbols(name)) {
        locked = XkbLockGroup(display, XkbUseCoreKbd, static_cast<unsigned>(*group)) == True;
        XFlush(display);
      }
      XFree(name);
    }
  }
  if (desc) XkbFreeKeyboard(desc, 0, True);
  XCloseDisplay(display);
  return locked;
#else
  return false;
#endif
}

}  // namespace qovra::account
