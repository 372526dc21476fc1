// The desktop media-control interface (MPRIS on the session bus): publishes what
// plays and takes the desktop's commands (media keys, panel applets).
//
// Threads: the service runs its own D-Bus thread. `start`, `take_commands` and the
// `publish_*` calls come from one thread (the interface); method calls from the bus
// are queued (at most 64 kept) and the wake callback, called on the D-Bus thread,
// tells the interface to come and take them.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorn_ui::mpris {

enum class CommandKind : std::uint8_t { Play, Pause, PlayPause, Stop, Next, Previous, Seek, SetPosition, Raise, Quit };

struct MediaCommand {
    CommandKind kind = CommandKind::PlayPause;
    std::int64_t microseconds = 0;  // Seek: offset; SetPosition: the position
};

enum class PlaybackStatus : std::uint8_t { Stopped, Paused, Playing };

struct NowPlaying {
    std::string track_id;  // a D-Bus object path; made from the title when empty
    std::string title;
    std::string artist;
    std::string art_url;
    std::optional<std::uint64_t> length_ms;
};

// What the player offers the desktop. Next and Previous are off unless the
// owner carries them out: a panel then never shows a control that does nothing.
struct Capabilities {
    bool can_go_next = false;
    bool can_go_previous = false;
    bool can_seek = true;
};

class MprisService {
public:
    // Claims "org.mpris.MediaPlayer2.<bus_suffix>" on the session bus. Fails with a
    // text when there is no session bus or the name is invalid.
    static std::expected<std::unique_ptr<MprisService>, std::string> start(const std::string& bus_suffix,
                                                                          const std::string& identity);
    ~MprisService();
    MprisService(const MprisService&) = delete;
    MprisService& operator=(const MprisService&) = delete;

    std::string bus_name() const;
    // Whether the bus name is currently ours.
    bool owns_name() const;

    std::vector<MediaCommand> take_commands();
    void set_wake_callback(std::function<void()> wake);

    void publish_status(PlaybackStatus status);
    void publish_position(std::uint64_t position_ms, bool jumped);
    void publish_now_playing(const NowPlaying& now);
    void publish_capabilities(const Capabilities& caps);
    void publish_volume(double volume);

    struct Impl;

private:
    explicit MprisService(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vorn_ui::mpris
