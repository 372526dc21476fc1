#include "fake_portal.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vorn_test {

namespace {

const char* kIntrospection =
    "<node><interface name='org.freedesktop.portal.Secret'>"
    "<method name='RetrieveSecret'><arg type='h' name='fd' direction='in'/>"
    "<arg type='a{sv}' name='options' direction='in'/><arg type='o' name='handle' direction='out'/></method>"
    "</interface></node>";

}  // namespace

// `m_mutex` guards `ready` and `owned`; the rest belongs to the portal's thread
// once it runs (the loop is only quit from outside).
struct FakePortal::State {
    std::string secret;
    guint32 response = 0;
    std::string bus_address;
    GMainLoop* loop = nullptr;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable ready_cv;
    bool ready = false;
    bool owned = false;

    static void on_call(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*, const gchar*,
                        GVariant* parameters, GDBusMethodInvocation* invocation, gpointer user_data) {
        auto* self = static_cast<State*>(user_data);
        gint32 index = 0;
        GVariant* options = nullptr;
        g_variant_get(parameters, "(h@a{sv})", &index, &options);
        const gchar* token = "t";
        g_variant_lookup(options, "handle_token", "&s", &token);
        std::string unique = sender + 1;
        for (char& c : unique) {
            if (c == '.') c = '_';
        }
        const std::string path = "/org/freedesktop/portal/desktop/request/" + unique + "/" + token;
        GUnixFDList* fds = g_dbus_message_get_unix_fd_list(g_dbus_method_invocation_get_message(invocation));
        const int fd = g_unix_fd_list_get(fds, index, nullptr);
        if (self->response == 0) (void)!::write(fd, self->secret.data(), self->secret.size());
        ::close(fd);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
        g_dbus_connection_emit_signal(connection, sender, path.c_str(), "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(ua{sv})", self->response, &results), nullptr);
        g_variant_unref(options);
    }

    void run() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        loop = g_main_loop_new(context, FALSE);
        gchar* address = bus_address.empty() ? g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)
                                             : g_strdup(bus_address.c_str());
        GDBusConnection* connection =
            address == nullptr ? nullptr
                               : g_dbus_connection_new_for_address_sync(
                                     address, static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                                G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                     nullptr, nullptr, nullptr);
        g_free(address);
        GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        static const GDBusInterfaceVTable vtable = {on_call, nullptr, nullptr, {nullptr}};
        guint object = 0;
        bool got_name = false;
        if (connection != nullptr) {
            object = g_dbus_connection_register_object(connection, "/org/freedesktop/portal/desktop", info->interfaces[0],
                                                       &vtable, this, nullptr, nullptr);
            GVariant* owned_reply = g_dbus_connection_call_sync(
                connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), G_VARIANT_TYPE("(u)"),
                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            if (owned_reply != nullptr) {
                guint32 answer = 0;
                g_variant_get(owned_reply, "(u)", &answer);
                got_name = answer == 1;  // the primary owner
                g_variant_unref(owned_reply);
            }
        }
        {
            std::lock_guard lock(mutex);
            ready = true;
            owned = got_name;
        }
        ready_cv.notify_all();
        g_main_loop_run(loop);
        if (connection != nullptr) {
            g_dbus_connection_unregister_object(connection, object);
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        g_dbus_node_info_unref(info);
        g_main_loop_unref(loop);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }
};

FakePortal::FakePortal(std::string secret, std::uint32_t response, std::string bus_address)
    : m_state(std::make_unique<State>()) {
    m_state->secret = std::move(secret);
    m_state->response = response;
    m_state->bus_address = std::move(bus_address);
    m_state->thread = std::thread([state = m_state.get()] { state->run(); });
    std::unique_lock lock(m_state->mutex);
    m_state->ready_cv.wait(lock, [this] { return m_state->ready; });
}

FakePortal::~FakePortal() {
    g_main_loop_quit(m_state->loop);
    m_state->thread.join();
}

bool FakePortal::ok() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->owned;
}

}  // namespace vorn_test
