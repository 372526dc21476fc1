// The icon set, by number: stroked outline glyphs on a 24-unit grid.
// Interface thread (draws into a scene).
#pragma once

#include <cstdint>
#include <span>

#include "vorn_ui/color.h"
#include "vorn_ui/geometry.h"
#include "vorn_ui/scene.h"

namespace vorn_ui::icons {

// Names of the icon numbers.
enum class Icon : std::uint16_t {
  User = 4,
  Devices = 7,
  Monitor = 9,
  Key = 11,
  Search = 19,
  Settings = 26,
  Home = 27,
  ArrowLeft = 38,
  ArrowUpRight = 42,
  Verified = 57,
  Trending = 58,
  Subscriptions = 59,
  History = 60,
  Heart = 62,
  ThumbsDown = 63,
  List = 64,
  Inbox = 67,
  Menu = 69,
  Check = 73,
  Play = 74,
  Pause = 75,
  Volume = 76,
  VolumeMuted = 77,
  Trash = 78,
  Fullscreen = 79,
  FullscreenExit = 80,
  SkipBack = 81,
  Close = 82,
  ChevronDown = 83,
  ChevronRight = 84,
  Captions = 85,
  SkipForward = 95,
};

constexpr std::uint16_t code(Icon i) { return static_cast<std::uint16_t>(i); }

bool has_icon(std::uint16_t icon);
// Every icon number of the set, ascending.
std::span<const std::uint16_t> all_icons();

// Draws the icon scaled into the square (top_left, size). Unknown numbers
// draw nothing. `stroke` is in units of the 24-unit grid.
void draw_icon(Scene& scene, const Affine& transform, std::uint16_t icon, Point top_left, double size, Color color,
               double stroke = 1.5);

}  // namespace vorn_ui::icons
