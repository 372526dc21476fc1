#include "vorn_ui/theme.h"

namespace vorn_ui {
namespace {

constexpr Color rgb(std::uint32_t hex, std::uint8_t alpha = 255) {
  return Color::rgba8(static_cast<std::uint8_t>(hex >> 16), static_cast<std::uint8_t>(hex >> 8),
                      static_cast<std::uint8_t>(hex), alpha);
}

}  // namespace

Theme Theme::dark() {
  Theme t;
  t.kind = Kind::Dark;
  t.background = rgb(0x0f0f12);
  t.chrome = rgb(0x16161a);
  t.raised = rgb(0x1e1e24);
  t.control = rgb(0x26262d);
  t.control_hover = rgb(0x303039);
  t.border = rgb(0x2c2c34);
  t.input_border = rgb(0x3d3d4a);
  t.text = rgb(0xf1f1f4);
  t.text_muted = rgb(0xa0a0ab);
  t.accent = rgb(0xff2d55);
  t.accent_alt = rgb(0x7c8cff);
  t.selection = rgb(0xf1f1f4);
  t.selection_hover = rgb(0xd6d6de);
  t.danger = rgb(0xff5a5f);
  t.warning = rgb(0xf5b83d);
  t.tile = rgb(0x1b1b22);
  t.focus_ring = rgb(0x7c8cff);
  t.caret = rgb(0xf1f1f4);
  t.text_selection = rgb(0x7c8cff, 110);
  t.scrollbar = rgb(0xffffff, 70);
  t.avatar_text = rgb(0xffffff);
  return t;
}

Theme Theme::light() {
  Theme t;
  t.kind = Kind::Light;
  t.background = rgb(0xf7f7f9);
  t.chrome = rgb(0xffffff);
  t.raised = rgb(0xffffff);
  t.control = rgb(0xeeeef2);
  t.control_hover = rgb(0xe3e3ea);
  t.border = rgb(0xdcdce3);
  t.input_border = rgb(0xc6c6d0);
  t.text = rgb(0x111114);
  t.text_muted = rgb(0x5c5c68);
  t.accent = rgb(0xe0103a);
  t.accent_alt = rgb(0x4a5bd8);
  t.selection = rgb(0x111114);
  t.selection_hover = rgb(0x2c2c33);
  t.danger = rgb(0xc8232c);
  t.warning = rgb(0xb7791f);
  t.tile = rgb(0xf0f0f5);
  t.focus_ring = rgb(0x4a5bd8);
  t.caret = rgb(0x111114);
  t.text_selection = rgb(0x4a5bd8, 80);
  t.scrollbar = rgb(0x000000, 70);
  t.avatar_text = rgb(0xffffff);
  return t;
}

Theme Theme::high_contrast() {
  Theme t;
  t.kind = Kind::HighContrast;
  t.background = rgb(0x000000);
  t.chrome = rgb(0x000000);
  t.raised = rgb(0x0a0a0a);
  t.control = rgb(0x141414);
  t.control_hover = rgb(0x3a3a3a);
  t.border = rgb(0xffffff);
  t.input_border = rgb(0xffff00);
  t.text = rgb(0xffffff);
  t.text_muted = rgb(0xe6e6e6);
  t.accent = rgb(0xffff00);
  t.accent_alt = rgb(0x00ffff);
  t.selection = rgb(0xffff00);
  t.selection_hover = rgb(0xffd500);
  t.danger = rgb(0xff7070);
  t.warning = rgb(0xffb000);
  t.tile = rgb(0x0a0a0a);
  t.focus_ring = rgb(0x00ffff);
  t.caret = rgb(0xffffff);
  t.text_selection = rgb(0x00ffff, 120);
  t.scrollbar = rgb(0xffffff, 160);
  t.avatar_text = rgb(0xffffff);
  return t;
}

Theme Theme::by_name(std::string_view name) {
  if (name == "light") return light();
  if (name == "high-contrast") return high_contrast();
  return dark();
}

}  // namespace vorn_ui
