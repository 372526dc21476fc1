// Program entry. The application's window and pages are not built yet: for
// now the program says so and lists the offline sample catalogue that the
// interface will show when no backend answers.
#include <fmt/core.h>

#include "sarn/model/library.h"

int main() {
    const sarn::Library library = sarn::Library::sample();
    fmt::print("Vorn Sarn 0.1: the application window and its pages are not built yet.\n");
    fmt::print("Offline sample catalogue: {} videos from {} channels.\n", library.videos.size(),
               library.channels.size());
    for (const sarn::Video& video : library.videos) {
        fmt::print("  {:<14} {} ({})\n", video.id, video.title, video.channel_name);
    }
    return 0;
}
