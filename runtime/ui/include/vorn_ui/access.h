// Accessibility nodes, activation requests and cursor shapes.
// Built and read on the interface thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vorn_ui/geometry.h"

namespace vorn_ui {

// Roles of accessibility nodes, by their codes.
enum class Role : std::uint8_t {
  Unknown = 0,
  Window = 1,
  Group = 2,
  ScrollView = 3,
  Label = 5,
  TextInput = 8,
  SearchInput = 9,
  Switch = 12,
  Button = 17,
  Link = 18,
  Navigation = 22,
  Dialog = 24,
  Image = 31,
  Video = 33,
};

// Requests assistive technology (and keyboard activation) sends to a widget.
enum class AccessRequest : std::uint8_t { Activate = 0, Focus = 1, Toggle = 2, ScrollIntoView = 3 };

enum class CursorShape : std::uint8_t { Default = 0, Text = 1, Wait = 2, Pointer = 3, Grab = 4, Grabbing = 5 };

// What a widget tells assistive technology about itself.
struct AccessNode {
  Role role = Role::Unknown;
  std::optional<std::string> name;
  std::optional<std::string> description;
  std::optional<std::string> value;
  std::optional<std::string> announcement;  // text read out when it changes
  Rect bounds;
  bool focusable = false;
  bool focused = false;
  bool busy = false;
  bool enabled = true;
  std::optional<bool> toggled;  // switches

  AccessNode() = default;
  AccessNode(Role r, Rect b) : role(r), bounds(b) {}

  AccessNode with_name(std::string n) && {
    name = std::move(n);
    return std::move(*this);
  }
  // Sets the name when one is given; an empty text counts as none.
  AccessNode with_optional_name(std::optional<std::string> n) && {
    if (n && !n->empty()) name = std::move(n);
    return std::move(*this);
  }
  AccessNode with_description(std::string d) && {
    description = std::move(d);
    return std::move(*this);
  }
  AccessNode with_focus(bool can_focus, bool has_focus) && {
    focusable = can_focus;
    focused = has_focus;
    return std::move(*this);
  }
};

}  // namespace vorn_ui
