#include "runtime_portal_xdg/secret.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

namespace runtime_portal_xdg {
namespace {

constexpr int kCallTimeoutMs = 10'000;
constexpr gint64 kResponseTimeoutUs = 30'000'000;
constexpr std::size_t kMaxSecretBytes = 64 * 1024;

struct GErrorText {
    GError* error = nullptr;
    ~GErrorText() {
        if (error) g_error_free(error);
    }
    std::string text() const { return error && error->message ? error->message : "unknown error"; }
};

template <typename T>
struct GObjectPtr {
    T* ptr = nullptr;
    ~GObjectPtr() {
        if (ptr) g_object_unref(ptr);
    }
};

struct ResponseWait {
    bool done = false;
    guint32 code = 2;
};

void on_response(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                 gpointer user_data) {
    auto* wait = static_cast<ResponseWait*>(user_data);
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &wait->code, &results);
    if (results) g_variant_unref(results);
    wait->done = true;
}

std::string request_path(GDBusConnection* bus, const std::string& token) {
    std::string sender = g_dbus_connection_get_unique_name(bus) ? g_dbus_connection_get_unique_name(bus) : "";
    if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
    for (char& c : sender) {
        if (c == '.') c = '_';
    }
    return "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
}

}  // namespace

std::expected<std::vector<std::uint8_t>, std::string> Secret::retrieve() {
    GErrorText error;
    GObjectPtr<GDBusConnection> bus{g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error.error)};
    if (!bus.ptr) return std::unexpected("session bus unavailable: " + error.text());

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(std::string("pipe: ") + std::strerror(errno));
    struct Fd {
        int fd;
        ~Fd() {
            if (fd >= 0) ::close(fd);
        }
    } read_end{fds[0]}, write_end{fds[1]};

    std::random_device random;
    const std::string token = "vorn" + std::to_string(random()) + std::to_string(random());
    const std::string path = request_path(bus.ptr, token);

    // A private context so that the wait neither needs nor disturbs a main loop.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    ResponseWait wait;
    const guint subscription = g_dbus_connection_signal_subscribe(
        // Any sender: the request path holds our unique name and a fresh token.
        bus.ptr, nullptr, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        on_response, &wait, nullptr);

    auto finish = [&]() {
        g_dbus_connection_signal_unsubscribe(bus.ptr, subscription);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    };

    GObjectPtr<GUnixFDList> fd_list{g_unix_fd_list_new()};
    const gint index = g_unix_fd_list_append(fd_list.ptr, write_end.fd, &error.error);
    if (index < 0) {
        finish();
        return std::unexpected("secret portal: " + error.text());
    }
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus.ptr, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Secret",
        "RetrieveSecret", g_variant_new("(h@a{sv})", index, g_variant_builder_end(&options)), G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, fd_list.ptr, nullptr, nullptr, &error.error);
    ::close(write_end.fd);
    write_end.fd = -1;
    if (!reply) {
        finish();
        return std::unexpected("secret portal unavailable: " + error.text());
    }
    g_variant_unref(reply);

    const gint64 give_up = g_get_monotonic_time() + kResponseTimeoutUs;
    while (!wait.done && g_get_monotonic_time() < give_up) {
        g_main_context_iteration(context, FALSE);
        if (!wait.done) g_usleep(10'000);
    }
    finish();
    if (!wait.done) return std::unexpected(std::string("secret portal did not answer"));
    if (wait.code != 0) return std::unexpected(std::string("secret portal refused the request"));

    std::vector<std::uint8_t> secret;
    std::uint8_t buffer[4096];
    const int flags = ::fcntl(read_end.fd, F_GETFL);
    ::fcntl(read_end.fd, F_SETFL, flags | O_NONBLOCK);
    for (;;) {
        const ssize_t n = ::read(read_end.fd, buffer, sizeof buffer);
        if (n > 0) {
            secret.insert(secret.end(), buffer, buffer + n);
            if (secret.size() > kMaxSecretBytes) return std::unexpected(std::string("secret portal sent too much"));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // EOF, or nothing more written
    }
    std::memset(buffer, 0, sizeof buffer);
    return secret;
}

}  // namespace runtime_portal_xdg
