// The desktop's two selections as the widgets see them: the clipboard (Ctrl+C,
// Ctrl+V) and the primary selection (the last selected text, pasted with the
// middle button). The window backend provides one; headless drivers may hand a
// stand-in, or none. Interface thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn_ui {

enum class Selection : unsigned char { Clipboard, Primary };

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // The selection's text, when it holds text.
  virtual std::optional<std::string> text(Selection which) = 0;
  // Offers the text as the selection; false when the desktop refused it.
  virtual bool set_text(Selection which, std::string_view text) = 0;
};

// A clipboard that lives in the process: what tests and headless drivers use.
class MemoryClipboard final : public Clipboard {
 public:
  std::optional<std::string> text(Selection which) override {
    return which == Selection::Clipboard ? m_clipboard : m_primary;
  }
  bool set_text(Selection which, std::string_view text) override {
    (which == Selection::Clipboard ? m_clipboard : m_primary) = std::string(text);
    return true;
  }

 private:
  std::optional<std::string> m_clipboard;
  std::optional<std::string> m_primary;
};

}  // namespace vorn_ui
