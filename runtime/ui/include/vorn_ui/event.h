// Input events that the window backend delivers to the root widget.
// Positions are physical pixels; widgets divide them by the display scale.
// Built and read on the interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "vorn_ui/geometry.h"

namespace vorn_ui {

// Modifier bits held while an event happened.
struct Modifiers {
  static constexpr std::uint32_t kShift = 0x01;
  static constexpr std::uint32_t kCapsLock = 0x02;
  static constexpr std::uint32_t kNumLock = 0x04;
  static constexpr std::uint32_t kControl = 0x20;
  static constexpr std::uint32_t kAlt = 0x100;
  static constexpr std::uint32_t kSuper = 0x400;

  std::uint32_t bits = 0;

  constexpr bool has(std::uint32_t bit) const { return (bits & bit) != 0; }
  constexpr bool shift() const { return has(kShift); }
  constexpr bool control() const { return has(kControl); }
  constexpr bool alt() const { return has(kAlt); }
  friend bool operator==(const Modifiers&, const Modifiers&) = default;
};

// Named keys by their numeric codes. Codes not listed here are never sent.
enum class NamedKey : std::uint16_t {
  Tab = 2,
  Backspace = 4,
  Delete = 6,
  Insert = 8,
  Home = 10,
  End = 12,
  Enter = 14,
  Space = 16,
  ArrowLeft = 18,
  ArrowRight = 20,
  ArrowUp = 22,
  ArrowDown = 24,
  PageUp = 26,
  PageDown = 28,
  Escape = 42,
  F11 = 61,
  MediaPlayPause = 120,
  BrowserBack = 150,
  BrowserForward = 151,
};

constexpr std::uint16_t key_code(NamedKey k) { return static_cast<std::uint16_t>(k); }

// A key press or release. `key` is a named key or, for character keys, the
// character the key gives (in `text`). The `released` flag is set on the
// release; shortcut rules act only on presses. A press may also bring `text`
// for text input; editing widgets read committed text from TextInputEvent.
struct KeyEvent {
  enum class Kind : std::uint8_t { Named, Character };
  Kind kind = Kind::Named;
  NamedKey named = NamedKey::Enter;  // meaningful when kind is Named
  std::string text;                  // the character for Character keys
  bool released = false;
  bool repeat = false;
  Modifiers modifiers;

  bool is_named(NamedKey k) const { return kind == Kind::Named && named == k; }
  static KeyEvent named_key(NamedKey k, Modifiers m = {}) {
    KeyEvent e;
    e.kind = Kind::Named;
    e.named = k;
    e.modifiers = m;
    return e;
  }
  static KeyEvent character(std::string s, Modifiers m = {}) {
    KeyEvent e;
    e.kind = Kind::Character;
    e.text = std::move(s);
    e.modifiers = m;
    return e;
  }
};

// Text committed by the keyboard or an input method (UTF-8).
struct TextInputEvent {
  std::string text;
};

struct PointerMoveEvent {
  Point position;  // physical pixels
};

enum class PointerButton : std::uint8_t { Primary = 0, Secondary = 1, Middle = 2, Back = 3, Forward = 4 };

struct PointerButtonEvent {
  PointerButton button = PointerButton::Primary;
  bool pressed = true;  // false: released
  Point position;       // physical pixels
  std::uint8_t clicks = 1;
};

// A wheel turn or a touchpad scroll. With `precise` set the deltas are pixels
// (touchpads, synthetic scrolls); otherwise they are wheel notches. A negative
// vertical delta scrolls the content down (reveals what lies below).
struct ScrollEvent {
  double delta_x = 0.0;
  double delta_y = 0.0;
  Point position;  // physical pixels
  bool precise = false;
};

struct PointerLeaveEvent {};

using Event = std::variant<KeyEvent, TextInputEvent, PointerMoveEvent, PointerButtonEvent, ScrollEvent,
                           PointerLeaveEvent>;

}  // namespace vorn_ui
