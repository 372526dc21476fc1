// A click places the caret through the layout of the text last drawn; when
// the field shows other text than it holds (stars for a password, a text
// typed or published since the last draw), the caret still lands on the
// start of a character, so what is typed next keeps the text valid UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "test_widgets.h"
#include "vorn_ui/widget/text_input.h"

namespace {

using namespace vorn_ui_test;
using vorn_ui::widget::text_input::InputKind;
using vorn_ui::widget::text_input::TextInput;

bool valid_utf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

TEST(TextInputIndex, ClicksLandOnCharacterStartsWhateverWasLastDrawn) {
    struct Case {
        const char* name;
        std::uint8_t kind;
        std::string drawn;  // the text when the field was last drawn
        std::string held;   // the text it holds when clicked
    };
    const Case cases[] = {
        {"typed since the last draw", static_cast<std::uint8_t>(InputKind::Text), "abcdefghij", "日本語のテキスト"},
        {"a password shown as stars", static_cast<std::uint8_t>(InputKind::Password), "日本語の秘密", "日本語の秘密"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (double x = 0; x <= 120; x += 3) {
            Harness h;
            Column col;
            auto& input = col.add_widget(TextInput::local(c.drawn).with_kind(c.kind).with_text_size(15));
            h.layout(col, 300, 40);
            h.draw(col);
            input.set_focus(true);
            if (c.held != c.drawn) {
                h.send(col, vorn_ui::KeyEvent::character("a", vorn_ui::Modifiers{vorn_ui::Modifiers::kControl}));
                h.send(col, vorn_ui::TextInputEvent{c.held});
            }
            h.send(col, press(x, 10));
            h.send(col, release(x, 10));
            h.send(col, vorn_ui::TextInputEvent{"Z"});
            ASSERT_TRUE(valid_utf8(input.text())) << "click at " << x;
        }
    }
}

}  // namespace
