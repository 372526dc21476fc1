// libFuzzer target: arbitrary bytes through Document::load, then the loaded
// document through every read and a save and reload.
#include <automerge/document.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    automerge::LoadLimits limits;
    limits.max_ops = 1u << 16;
    limits.max_inflated_bytes = 4u << 20;
    auto doc = automerge::Document::load(std::span(data, size), limits);
    if (!doc) return 0;
    auto keys = doc->keys(automerge::ObjId::root());
    if (keys) {
        for (const auto& k : *keys) {
            auto all = doc->get_all(automerge::ObjId::root(), k);
            if (!all) continue;
            for (const auto& item : *all) {
                if (!item.is_object()) continue;
                (void)doc->length(item.id);
                if (item.object == automerge::ObjType::text) (void)doc->text(item.id);
            }
        }
    }
    (void)doc->heads();
    auto saved = doc->save();
    auto again = automerge::Document::load(saved, limits);
    (void)again;
    (void)doc->changes();
    return 0;
}
