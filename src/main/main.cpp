// Program entry. The window and its pages are not built yet: for now the
// program says so and shows what the library model holds by default.
#include <fmt/core.h>

#include "sarn/model/library.h"

int main() {
    sarn::Library library;
    fmt::print("Vorn Sarn 0.1: the window and its pages are not built yet.\n");
    fmt::print("Library model ready (profile {}, status \"{}\", {} videos).\n", library.profile,
               library.status.text, library.videos.size());
    return 0;
}
