// MPRIS over GDBus. The only file of the desktop runtime that includes GDBus.
//
// The service owns a private session-bus connection and a GMainContext that runs on
// its own thread; method calls and property reads are answered there. `mu` guards the
// published snapshot, the command queue and the wake callback; signals are emitted
// from whichever thread publishes (GDBus connections are thread-safe).
#include "vorn_ui/mpris.h"

#include <gio/gio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include <fmt/core.h>

namespace vorn_ui::mpris {

namespace {

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr std::size_t kMaxCommands = 64;

constexpr const char* kIntrospection = R"XML(
<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
    <method name="SetPosition">
      <arg direction="in" name="TrackId" type="o"/>
      <arg direction="in" name="Position" type="x"/>
    </method>
    <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="read"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="read"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
</node>
)XML";

const char* status_text(PlaybackStatus s) {
    switch (s) {
        case PlaybackStatus::Playing: return "Playing";
        case PlaybackStatus::Paused: return "Paused";
        case PlaybackStatus::Stopped: return "Stopped";
    }
    return "Stopped";
}

// A track id must be an object path; anything else is turned into one.
std::string track_path(const NowPlaying& now) {
    if (!now.track_id.empty() && g_variant_is_object_path(now.track_id.c_str())) return now.track_id;
    const std::string& seed = now.track_id.empty() ? now.title : now.track_id;
    if (seed.empty()) return kNoTrack;
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : seed) h = (h ^ c) * 0x100000001b3ull;
    return fmt::format("/org/vorn/track/t{:016x}", h);
}

}  // namespace

struct MprisService::Impl {
    std::string name;
    std::string identity;

    GMainContext* ctx = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* conn = nullptr;
    GDBusNodeInfo* node = nullptr;
    guint root_id = 0;
    guint player_id = 0;
    guint own_id = 0;
    std::thread thread;
    std::atomic<bool> owned{false};

    std::promise<std::string> started;  // empty text: the name is ours
    bool start_reported = false;        // D-Bus thread only

    std::mutex mu;
    PlaybackStatus status = PlaybackStatus::Stopped;
    NowPlaying now;
    Capabilities caps;
    std::uint64_t position_ms = 0;
    double volume = 1.0;
    std::deque<MediaCommand> commands;
    std::function<void()> wake;

    ~Impl() {
        if (loop != nullptr) {
            g_main_context_invoke(
                ctx,
                [](gpointer data) -> gboolean {
                    g_main_loop_quit(static_cast<GMainLoop*>(data));
                    return G_SOURCE_REMOVE;
                },
                loop);
        }
        if (thread.joinable()) thread.join();
        if (loop != nullptr) g_main_loop_unref(loop);
        if (ctx != nullptr) g_main_context_unref(ctx);
        if (node != nullptr) g_dbus_node_info_unref(node);
    }

    void report(std::string text) {
        if (start_reported) return;
        start_reported = true;
        started.set_value(std::move(text));
    }

    void push(MediaCommand cmd) {
        std::function<void()> w;
        {
            std::lock_guard lock(mu);
            if (commands.size() >= kMaxCommands) commands.pop_front();
            commands.push_back(cmd);
            w = wake;
        }
        if (w) w();
    }

    GVariant* metadata_locked() const {
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&b, "{sv}", "mpris:trackid", g_variant_new_object_path(track_path(now).c_str()));
        if (now.length_ms) {
            g_variant_builder_add(&b, "{sv}", "mpris:length",
                                  g_variant_new_int64(static_cast<gint64>(*now.length_ms) * 1000));
        }
        if (!now.title.empty()) g_variant_builder_add(&b, "{sv}", "xesam:title", g_variant_new_string(now.title.c_str()));
        if (!now.artist.empty()) {
            const gchar* artists[] = {now.artist.c_str(), nullptr};
            g_variant_builder_add(&b, "{sv}", "xesam:artist", g_variant_new_strv(artists, 1));
        }
        if (!now.art_url.empty()) g_variant_builder_add(&b, "{sv}", "mpris:artUrl", g_variant_new_string(now.art_url.c_str()));
        return g_variant_builder_end(&b);
    }

    GVariant* property(const gchar* iface, const gchar* prop) {
        std::lock_guard lock(mu);
        const std::string_view p(prop);
        if (g_strcmp0(iface, kRootInterface) == 0) {
            if (p == "CanQuit" || p == "CanRaise" || p == "HasTrackList") return g_variant_new_boolean(FALSE);
            if (p == "Identity") return g_variant_new_string(identity.c_str());
            if (p == "SupportedUriSchemes" || p == "SupportedMimeTypes") return g_variant_new_strv(nullptr, 0);
            return nullptr;
        }
        if (p == "PlaybackStatus") return g_variant_new_string(status_text(status));
        if (p == "Rate" || p == "MinimumRate" || p == "MaximumRate") return g_variant_new_double(1.0);
        if (p == "Metadata") return metadata_locked();
        if (p == "Volume") return g_variant_new_double(volume);
        if (p == "Position") return g_variant_new_int64(static_cast<gint64>(position_ms) * 1000);
        if (p == "CanGoNext") return g_variant_new_boolean(caps.can_go_next);
        if (p == "CanGoPrevious") return g_variant_new_boolean(caps.can_go_previous);
        if (p == "CanSeek") return g_variant_new_boolean(caps.can_seek);
        if (p == "CanPlay" || p == "CanPause" || p == "CanControl") return g_variant_new_boolean(TRUE);
        return nullptr;
    }

    void method(const gchar* iface, const gchar* name_, GVariant* params, GDBusMethodInvocation* inv) {
        const std::string_view m(name_);
        if (g_strcmp0(iface, kRootInterface) == 0) {
            push({m == "Quit" ? CommandKind::Quit : CommandKind::Raise, 0});
            g_dbus_method_invocation_return_value(inv, nullptr);
            return;
        }
        static const struct {
            std::string_view name;
            CommandKind kind;
        } simple[] = {{"Next", CommandKind::Next},   {"Previous", CommandKind::Previous},
                      {"Pause", CommandKind::Pause}, {"PlayPause", CommandKind::PlayPause},
                      {"Stop", CommandKind::Stop},   {"Play", CommandKind::Play}};
        for (const auto& s : simple) {
            if (m == s.name) {
                push({s.kind, 0});
                g_dbus_method_invocation_return_value(inv, nullptr);
                return;
            }
        }
        if (m == "Seek") {
            gint64 offset = 0;
            g_variant_get(params, "(x)", &offset);
            push({CommandKind::Seek, offset});
            g_dbus_method_invocation_return_value(inv, nullptr);
            return;
        }
        if (m == "SetPosition") {
            const gchar* track = nullptr;
            gint64 position = 0;
            g_variant_get(params, "(&ox)", &track, &position);
            std::string current;
            {
                std::lock_guard lock(mu);
                current = track_path(now);
            }
            // The call is ignored when it names another track or a position before the start.
            if (current == track && position >= 0) push({CommandKind::SetPosition, position});
            g_dbus_method_invocation_return_value(inv, nullptr);
            return;
        }
        g_dbus_method_invocation_return_error(inv, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED, "%s is not supported",
                                              name_);
    }

    static void on_method(GDBusConnection*, const gchar*, const gchar*, const gchar* iface, const gchar* name_,
                          GVariant* params, GDBusMethodInvocation* inv, gpointer data) {
        static_cast<Impl*>(data)->method(iface, name_, params, inv);
    }

    static GVariant* on_get_property(GDBusConnection*, const gchar*, const gchar*, const gchar* iface,
                                     const gchar* prop, GError** error, gpointer data) {
        GVariant* v = static_cast<Impl*>(data)->property(iface, prop);
        if (v == nullptr) g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", prop);
        return v;
    }

    static void on_name_acquired(GDBusConnection*, const gchar*, gpointer data) {
        auto* d = static_cast<Impl*>(data);
        d->owned = true;
        d->report("");
    }

    static void on_name_lost(GDBusConnection*, const gchar* lost, gpointer data) {
        auto* d = static_cast<Impl*>(data);
        d->owned = false;
        d->report(fmt::format("the bus name {} is taken or the bus went away", lost));
    }

    void run() {
        g_main_context_push_thread_default(ctx);
        GError* err = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
        if (address != nullptr) {
            conn = g_dbus_connection_new_for_address_sync(
                address,
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &err);
            g_free(address);
        }
        if (conn == nullptr) {
            report(fmt::format("no session bus: {}", err != nullptr ? err->message : "unknown error"));
            if (err != nullptr) g_error_free(err);
            g_main_context_pop_thread_default(ctx);
            return;
        }
        g_dbus_connection_set_exit_on_close(conn, FALSE);
        static const GDBusInterfaceVTable vtable = {&Impl::on_method, &Impl::on_get_property, nullptr, {}};
        root_id = g_dbus_connection_register_object(conn, kObjectPath, node->interfaces[0], &vtable, this, nullptr,
                                                    &err);
        if (root_id != 0) {
            player_id = g_dbus_connection_register_object(conn, kObjectPath, node->interfaces[1], &vtable, this,
                                                          nullptr, &err);
        }
        if (root_id == 0 || player_id == 0) {
            report(fmt::format("could not publish the player: {}", err != nullptr ? err->message : "unknown error"));
            if (err != nullptr) g_error_free(err);
        } else {
            own_id = g_bus_own_name_on_connection(conn, name.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                                  &Impl::on_name_acquired, &Impl::on_name_lost, this, nullptr);
            g_main_loop_run(loop);
        }
        if (own_id != 0) g_bus_unown_name(own_id);
        if (player_id != 0) g_dbus_connection_unregister_object(conn, player_id);
        if (root_id != 0) g_dbus_connection_unregister_object(conn, root_id);
        owned = false;
        g_dbus_connection_close_sync(conn, nullptr, nullptr);
        g_object_unref(conn);
        conn = nullptr;
        // Let the connection's last sources run before the context goes.
        while (g_main_context_iteration(ctx, FALSE)) {
        }
        g_main_context_pop_thread_default(ctx);
    }

    void emit_changed(const char* iface, std::initializer_list<const char*> props) {
        if (conn == nullptr || !owned) return;
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
        for (const char* p : props) {
            if (GVariant* v = property(iface, p); v != nullptr) g_variant_builder_add(&b, "{sv}", p, v);
        }
        g_dbus_connection_emit_signal(conn, nullptr, kObjectPath, "org.freedesktop.DBus.Properties",
                                      "PropertiesChanged", g_variant_new("(sa{sv}as)", iface, &b, nullptr), nullptr);
    }
};

MprisService::MprisService(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
MprisService::~MprisService() = default;

std::expected<std::unique_ptr<MprisService>, std::string> MprisService::start(const std::string& bus_suffix,
                                                                              const std::string& identity) {
    const std::string name = std::string(kRootInterface) + "." + bus_suffix;
    if (bus_suffix.empty() || !g_dbus_is_name(name.c_str()) || g_dbus_is_unique_name(name.c_str())) {
        return std::unexpected(fmt::format("\"{}\" is not a valid bus name", name));
    }
    std::string last_error;
    // A second instance of the program takes a name of its own, as the desktop expects.
    for (const std::string& candidate : {name, fmt::format("{}.instance{}", name, getpid())}) {
        auto impl = std::make_unique<Impl>();
        impl->name = candidate;
        impl->identity = identity;
        GError* err = nullptr;
        impl->node = g_dbus_node_info_new_for_xml(kIntrospection, &err);
        if (impl->node == nullptr) {
            std::string text = err != nullptr ? err->message : "bad interface description";
            if (err != nullptr) g_error_free(err);
            return std::unexpected(text);
        }
        impl->ctx = g_main_context_new();
        impl->loop = g_main_loop_new(impl->ctx, FALSE);
        auto result = impl->started.get_future();
        Impl* raw = impl.get();
        impl->thread = std::thread([raw] { raw->run(); });
        if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            return std::unexpected(std::string("the session bus did not answer"));
        }
        last_error = result.get();
        if (last_error.empty()) return std::unique_ptr<MprisService>(new MprisService(std::move(impl)));
        if (last_error.starts_with("no session bus")) break;
    }
    return std::unexpected(last_error);
}

std::string MprisService::bus_name() const { return m_impl->name; }
bool MprisService::owns_name() const { return m_impl->owned; }

std::vector<MediaCommand> MprisService::take_commands() {
    std::lock_guard lock(m_impl->mu);
    std::vector<MediaCommand> out(m_impl->commands.begin(), m_impl->commands.end());
    m_impl->commands.clear();
    return out;
}

void MprisService::set_wake_callback(std::function<void()> wake) {
    std::lock_guard lock(m_impl->mu);
    m_impl->wake = std::move(wake);
}

void MprisService::publish_status(PlaybackStatus status) {
    {
        std::lock_guard lock(m_impl->mu);
        if (m_impl->status == status) return;
        m_impl->status = status;
    }
    m_impl->emit_changed(kPlayerInterface, {"PlaybackStatus"});
}

void MprisService::publish_position(std::uint64_t position_ms, bool jumped) {
    {
        std::lock_guard lock(m_impl->mu);
        m_impl->position_ms = position_ms;
    }
    // Position is read on demand; only a jump is signalled.
    if (jumped && m_impl->conn != nullptr && m_impl->owned) {
        g_dbus_connection_emit_signal(m_impl->conn, nullptr, kObjectPath, kPlayerInterface, "Seeked",
                                      g_variant_new("(x)", static_cast<gint64>(position_ms) * 1000), nullptr);
    }
}

void MprisService::publish_now_playing(const NowPlaying& now) {
    {
        std::lock_guard lock(m_impl->mu);
        const NowPlaying& old = m_impl->now;
        if (old.track_id == now.track_id && old.title == now.title && old.artist == now.artist &&
            old.art_url == now.art_url && old.length_ms == now.length_ms) {
            return;
        }
        m_impl->now = now;
    }
    m_impl->emit_changed(kPlayerInterface, {"Metadata"});
}

void MprisService::publish_capabilities(const Capabilities& caps) {
    {
        std::lock_guard lock(m_impl->mu);
        const Capabilities& old = m_impl->caps;
        if (old.can_go_next == caps.can_go_next && old.can_go_previous == caps.can_go_previous &&
            old.can_seek == caps.can_seek) {
            return;
        }
        m_impl->caps = caps;
    }
    m_impl->emit_changed(kPlayerInterface, {"CanGoNext", "CanGoPrevious", "CanSeek"});
}

void MprisService::publish_volume(double volume) {
    {
        std::lock_guard lock(m_impl->mu);
        if (m_impl->volume == volume) return;
        m_impl->volume = volume;
    }
    m_impl->emit_changed(kPlayerInterface, {"Volume"});
}

}  // namespace vorn_ui::mpris
