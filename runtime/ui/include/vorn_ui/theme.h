// Colour roles, corner radii and the display scale the widgets read.
// Plain values; any thread.
#pragma once

#include <string_view>

#include "vorn_ui/color.h"

namespace vorn_ui {

struct Theme {
  enum class Kind : unsigned char { Dark, Light, HighContrast };

  Kind kind = Kind::Dark;
  Color background;       // window background behind every page
  Color chrome;           // top bar and sidebar
  Color raised;           // cards and dialogs above the page
  Color control;          // resting background of controls
  Color control_hover;    // hover background of cards, rows, buttons
  Color border;           // borders and dividers
  Color input_border;     // border of input rows
  Color text;             // primary text and icons
  Color text_muted;       // secondary text and icons
  Color accent;           // accent icons and tiles
  Color accent_alt;       // a second accent
  Color selection;        // selected or active controls
  Color selection_hover;  // hover on selected controls
  Color danger;
  Color warning;
  Color tile;             // device tiles and cards
  Color focus_ring;       // keyboard focus outline
  Color caret;            // text caret
  Color text_selection;   // background of selected text
  Color scrollbar;        // scroll indicator thumb
  Color avatar_text;      // initials on avatars
  double radius = 12.0;
  double radius_control = 10.0;
  double radius_input = 10.0;
  float scale = 1.0f;  // display scale; 1.5 or more selects the large-scale layouts

  static Theme dark();
  static Theme light();
  static Theme high_contrast();
  // "light" and "high-contrast" select those themes (exact comparison);
  // anything else selects the dark theme.
  static Theme by_name(std::string_view name);

  Theme with_scale(float s) const {
    Theme t = *this;
    t.scale = s;
    return t;
  }
};

}  // namespace vorn_ui
