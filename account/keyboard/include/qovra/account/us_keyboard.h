// The switch to the US English keyboard layout while logins and passwords
// are typed.
//
// On X11 the keyboard's XKB group is locked to the group whose layout is
// "us". Under any other window system, or when no group carries "us", the
// layout stays as it is. Interface thread only.
#pragma once

#include <optional>
#include <string_view>

namespace qovra::account {

// The group (0-based) of the layout "us" in an XKB symbols name such as
// "pc+ru+us:2+inet(evdev)+group(alt_shift_toggle)": the first layout
// without ":N" is group 0, "name:N" is group N-1; a variant in parentheses
// ("us(intl)") still counts as "us". Option parts (pc, inet, group, level3,
// ...) are not layouts. Nothing when no part is the layout "us".
[[nodiscard]] std::optional<int> UsGroupFromSymbols(std::string_view symbols);

// Locks the X11 keyboard to the "us" group (see above). Returns true when
// the group was locked; false when the display is not X11, cannot be
// opened, or has no "us" group. Never changes anything else.
bool SwitchToUsKeyboardLayout();

// The US layout while one field has the focus, and the user's own layout
// back when it leaves. Windows call Enter from the field's focus-in and
// Leave from its focus-out; tests put in a subclass of their own.
class TUsKeyboardSwitch {
 public:
  virtual ~TUsKeyboardSwitch() = default;
  // Remembers the locked group; when it is not the "us" group, locks the
  // "us" group. True when the layout was switched (the caller tells the
  // user). Nothing happens off X11 or without a "us" group.
  virtual bool Enter();
  // Locks the group remembered by the last Enter that switched; nothing
  // when that Enter did not switch. Called once per Enter.
  virtual void Leave();

 private:
  std::optional<int> saved_group_;
};

}  // namespace qovra::account
