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

#ifdef QOVRA_HAVE_XKB
namespace {

// The keyboard's XKB state on an open display.
struct XkbGroups {
  int locked = 0;
  std::optional<int> us;
};

// Opens the display of an X11 session; null elsewhere.
Display* OpenX11Display() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  return XOpenDisplay(nullptr);
}

XkbGroups ReadGroups(Display* display) {
  XkbGroups g;
  XkbStateRec state{};
  if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) g.locked = state.locked_group;
  XkbDescPtr desc = XkbAllocKeyboard();
  if (desc && XkbGetNames(display, XkbSymbolsNameMask, desc) == Success && desc->names &&
      desc->names->symbols != None) {
    if (char* name = XGetAtomName(display, desc->names->symbols)) {
      g.us = UsGroupFromSymbols(name);
      XFree(name);
    }
  }
  if (desc) XkbFreeKeyboard(desc, 0, True);
  return g;
}

bool LockGroup(Display* display, int group) {
  const bool locked = XkbLockGroup(display, XkbUseCoreKbd, static_cast<unsigned>(group)) == True;
  XFlush(display);
  return locked;
}

}  // namespace
#endif

bool SwitchToUsKeyboardLayout() {
#ifdef QOVRA_HAVE_XKB
  Display* display = OpenX11Display();
  if (!display) return false;
  const XkbGroups g = ReadGroups(display);
  const bool locked = g.us && LockGroup(display, *g.us);
  XCloseDisplay(display);
  return locked;
#else
  return false;
#endif
}

bool TUsKeyboardSwitch::Enter() {
  saved_group_.reset();
#ifdef QOVRA_HAVE_XKB
  Display* display = OpenX11Display();
  if (!display) return false;
  const XkbGroups g = ReadGroups(display);
  if (g.us && *g.us != g.locked && LockGroup(display, *g.us)) saved_group_ = g.locked;
  XCloseDisplay(display);
#endif
  return saved_group_.has_value();
}

void TUsKeyboardSwitch::Leave() {
#ifdef QOVRA_HAVE_XKB
  if (!saved_group_) return;
  if (Display* display = OpenX11Display()) {
    (void)LockGroup(display, *saved_group_);
    XCloseDisplay(display);
  }
#endif
  saved_group_.reset();
}

}  // namespace qovra::account
