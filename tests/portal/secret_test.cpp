// The secret broker against a fake desktop portal on a private session bus.

#include <gtest/gtest.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "runtime_portal_xdg/secret.h"

namespace {

const char* kIntrospection =
    "<node><interface name='org.freedesktop.portal.Secret'>"
    "<method name='RetrieveSecret'><arg type='h' name='fd' direction='in'/>"
    "<arg type='a{sv}' name='options' direction='in'/><arg type='o' name='handle' direction='out'/></method>"
    "</interface></node>";

// Serves org.freedesktop.portal.Secret on its own connection and thread.
class FakePortal {
public:
    FakePortal(std::string secret, guint32 response) : m_secret(std::move(secret)), m_response(response) {
        m_thread = std::thread([this] { run(); });
        std::unique_lock lock(m_mutex);
        m_ready_cv.wait(lock, [this] { return m_ready; });
    }
    ~FakePortal() {
        g_main_loop_quit(m_loop);
        m_thread.join();
    }

private:
    static void on_call(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*, const gchar*,
                        GVariant* parameters, GDBusMethodInvocation* invocation, gpointer user_data) {
        auto* self = static_cast<FakePortal*>(user_data);
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
        if (self->m_response == 0) (void)!::write(fd, self->m_secret.data(), self->m_secret.size());
        ::close(fd);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
        g_dbus_connection_emit_signal(connection, sender, path.c_str(), "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(ua{sv})", self->m_response, &results), nullptr);
        g_variant_unref(options);
    }

    void run() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        m_loop = g_main_loop_new(context, FALSE);
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            address, static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
        GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        static const GDBusInterfaceVTable vtable = {on_call, nullptr, nullptr, {nullptr}};
        const guint object = g_dbus_connection_register_object(connection, "/org/freedesktop/portal/desktop",
                                                               info->interfaces[0], &vtable, this, nullptr, nullptr);
        GVariant* owned = g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
            5000, nullptr, nullptr);
        if (owned) g_variant_unref(owned);
        {
            std::lock_guard lock(m_mutex);
            m_ready = true;
        }
        m_ready_cv.notify_all();
        g_main_loop_run(m_loop);
        g_dbus_connection_unregister_object(connection, object);
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
        g_dbus_node_info_unref(info);
        g_main_loop_unref(m_loop);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    std::string m_secret;
    guint32 m_response;
    GMainLoop* m_loop = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_ready_cv;
    bool m_ready = false;
};

class SecretTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) GTEST_SKIP() << "needs dbus-run-session";
    }
};

TEST_F(SecretTest, ReturnsThePortalsSecretTheSameEachTime) {
    FakePortal portal("0123456789abcdef0123456789abcdef", 0);
    auto first = runtime_portal_xdg::Secret::retrieve();
    ASSERT_TRUE(first.has_value()) << first.error();
    EXPECT_EQ(std::string(first->begin(), first->end()), "0123456789abcdef0123456789abcdef");
    auto second = runtime_portal_xdg::Secret::retrieve();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*first, *second);
}

TEST_F(SecretTest, ARefusalOrAMissingPortalIsAnError) {
    {
        FakePortal portal("", 1);
        auto refused = runtime_portal_xdg::Secret::retrieve();
        ASSERT_FALSE(refused.has_value());
        EXPECT_EQ(refused.error(), "secret portal refused the request");
    }
    auto missing = runtime_portal_xdg::Secret::retrieve();
    ASSERT_FALSE(missing.has_value());
    EXPECT_TRUE(missing.error().starts_with("secret portal unavailable: ")) << missing.error();
}

}  // namespace
