#include "sarn/http/client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vorn_test/local_server.h"

namespace {

using namespace std::chrono_literals;
using sarn::http::Client;
using sarn::http::ClientOptions;
using sarn::http::ErrorKind;
using sarn::http::OverLimit;
using sarn::http::Request;

// Generous by default: a loaded machine may take seconds to answer. Tests of
// time-outs give their own short ones.
Client make_client(std::chrono::milliseconds timeout = 60s, std::size_t limit = sarn::http::kDefaultBodyLimit) {
    auto client = Client::create(ClientOptions{"sarn-test/1", timeout, limit, 10});
    EXPECT_TRUE(client.has_value());
    return std::move(*client);
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = server.server();
        s.Get("/echo", [](const httplib::Request& req, httplib::Response& res) {
            std::string out = "q=" + req.get_param_value("q") + "|amp=" + req.get_param_value("amp") +
                              "|ua=" + req.get_header_value("User-Agent") +
                              "|x=" + req.get_header_value("X-Test");
            res.set_content(out, "text/plain");
        });
        s.Post("/json", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.get_header_value("Content-Type") + "|" + req.body, "application/json");
        });
        s.Get("/status/(\\d+)", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("status body", "text/plain");
        });
        s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(5000, 'x'), "text/plain");
        });
        s.Get("/big-chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 64 * 1024) {
                    sink.done();
                    return true;
                }
                const std::string piece(1024, 'y');
                return sink.write(piece.data(), piece.size());
            });
        });
        s.Get("/slow", [this](const httplib::Request&, httplib::Response& res) {
            for (int i = 0; i < 40 && !server.stopping(); ++i) std::this_thread::sleep_for(50ms);
            res.set_content("late", "text/plain");
        });
        s.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                if (offset == 0) return sink.write("abc", 3);
                for (int i = 0; i < 40 && !server.stopping(); ++i) std::this_thread::sleep_for(50ms);
                sink.done();
                return true;
            });
        });
        s.Get("/to-echo", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/echo?q=moved"); });
        s.Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("ftp://127.0.0.1/file");
        });
        s.Get("/to-file", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("file:///etc/passwd"); });
        ASSERT_TRUE(server.start());
    }

    vorn_test::LocalServer server;
};

TEST_F(HttpClientTest, GetSendsEncodedQueryHeadersAndUserAgent) {
    Client client = make_client();
    const sarn::http::QueryParam query[] = {{"q", "a b&c#d"}, {"amp", "ü=1"}};
    const sarn::http::Header headers[] = {{"X-Test", "yes"}};
    auto response = client.get(server.base_url() + "/echo", query, headers);
    ASSERT_TRUE(response.has_value()) << response.error().message;
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->body, "q=a b&c#d|amp=ü=1|ua=sarn-test/1|x=yes");
    EXPECT_EQ(response->content_type, "text/plain");
}

TEST_F(HttpClientTest, PostJsonSendsBodyAndContentType) {
    Client client = make_client();
    auto response = client.post_json(server.base_url() + "/json", R"({"k":1})");
    ASSERT_TRUE(response.has_value()) << response.error().message;
    EXPECT_EQ(response->body, R"(application/json|{"k":1})");
}

TEST_F(HttpClientTest, StatusIsReportedAndCheckedNotTreatedAsTransportFailure) {
    Client client = make_client();
    for (int status : {404, 500}) {
        auto response = client.get(server.base_url() + "/status/" + std::to_string(status));
        ASSERT_TRUE(response.has_value()) << response.error().message;
        EXPECT_EQ(response->status, status);
        EXPECT_FALSE(response->success());
        auto checked = sarn::http::check_status(*response);
        ASSERT_FALSE(checked.has_value());
        EXPECT_EQ(checked.error().kind, ErrorKind::Status);
        EXPECT_EQ(checked.error().status, status);
        EXPECT_EQ(checked.error().message, "HTTP status " + std::to_string(status));
    }
    auto ok = client.get(server.base_url() + "/status/206");
    ASSERT_TRUE(ok.has_value());
    EXPECT_TRUE(sarn::http::check_status(*ok).has_value());
}

TEST_F(HttpClientTest, BodyPastTheCapFailsOrIsTruncatedOnRequest) {
    Client client = make_client(60s, 1000);
    for (const char* path : {"/big", "/big-chunked"}) {
        auto failed = client.get(server.base_url() + path);
        ASSERT_FALSE(failed.has_value()) << path;
        EXPECT_EQ(failed.error().kind, ErrorKind::TooLarge) << path;

        Request request;
        request.url = server.base_url() + path;
        request.body_limit = 100;
        request.over_limit = OverLimit::Truncate;
        auto cut = client.send(request);
        ASSERT_TRUE(cut.has_value()) << path << ": " << cut.error().message;
        EXPECT_EQ(cut->status, 200);
        EXPECT_EQ(cut->body.size(), 100u);
        EXPECT_TRUE(cut->truncated);
    }
    // A body exactly at the cap is whole.
    Request exact;
    exact.url = server.base_url() + "/big";
    exact.body_limit = 5000;
    auto whole = client.send(exact);
    ASSERT_TRUE(whole.has_value()) << whole.error().message;
    EXPECT_EQ(whole->body.size(), 5000u);
    EXPECT_FALSE(whole->truncated);
}

TEST_F(HttpClientTest, SlowAnswersAndStalledBodiesTimeOut) {
    Client client = make_client(300ms);
    // Both answers take two seconds: a time-out (not an answer) shows that the
    // client gave up first.
    for (const char* path : {"/slow", "/stall"}) {
        auto response = client.get(server.base_url() + path);
        ASSERT_FALSE(response.has_value()) << path;
        EXPECT_EQ(response.error().kind, ErrorKind::Timeout) << path << ": " << response.error().message;
    }
    // The same client still works afterwards (given time enough to answer).
    Request echo;
    echo.url = server.base_url() + "/echo";
    echo.timeout = 60s;
    EXPECT_TRUE(client.send(echo).has_value());

    // A request's own time-out overrides the client's, both ways.
    Client patient = make_client(100ms);
    Request request;
    request.url = server.base_url() + "/slow";
    request.timeout = 60s;
    auto late = patient.send(request);
    ASSERT_TRUE(late.has_value()) << late.error().message;
    EXPECT_EQ(late->body, "late");
    Client slow_client = make_client(10000ms);
    request.timeout = 200ms;
    auto cut = slow_client.send(request);
    ASSERT_FALSE(cut.has_value());
    EXPECT_EQ(cut.error().kind, ErrorKind::Timeout);
}

TEST_F(HttpClientTest, OnlyHttpAndHttpsAreFollowed) {
    Client client = make_client();
    auto moved = client.get(server.base_url() + "/to-echo");
    ASSERT_TRUE(moved.has_value()) << moved.error().message;
    EXPECT_EQ(moved->body.substr(0, 7), "q=moved");
    EXPECT_EQ(moved->final_url, server.base_url() + "/echo?q=moved");

    for (const char* path : {"/to-ftp", "/to-file"}) {
        auto refused = client.get(server.base_url() + path);
        ASSERT_FALSE(refused.has_value()) << path;
        EXPECT_EQ(refused.error().kind, ErrorKind::UnsupportedScheme) << path << ": " << refused.error().message;
    }
    auto direct = client.get("file:///etc/passwd");
    ASSERT_FALSE(direct.has_value());
    EXPECT_EQ(direct.error().kind, ErrorKind::UnsupportedScheme);
    auto relative = client.get("/etc/passwd");
    ASSERT_FALSE(relative.has_value());
    EXPECT_EQ(relative.error().kind, ErrorKind::InvalidAddress);
}

TEST(HttpClientOffline, ClosedPortIsAConnectError) {
    // Bind a port, then close it, so nothing listens there.
    int port = 0;
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        socklen_t len = sizeof addr;
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
        port = ntohs(addr.sin_port);
        ::close(fd);
    }
    Client client = make_client(1000ms);
    auto response = client.get("http://127.0.0.1:" + std::to_string(port) + "/");
    ASSERT_FALSE(response.has_value());
    EXPECT_EQ(response.error().kind, ErrorKind::Connect) << response.error().message;
}

TEST(HttpEncoding, PercentAndFormEncoding) {
    struct Row {
        std::string_view in;
        std::string_view percent;
        std::string_view form;
    };
    static const Row rows[] = {
        {"abc-._~XYZ09", "abc-._~XYZ09", "abc-._~XYZ09"},
        {"a b", "a%20b", "a+b"},
        {"a&b#c?d=e/f", "a%26b%23c%3Fd%3De%2Ff", "a%26b%23c%3Fd%3De%2Ff"},
        {"+%", "%2B%25", "%2B%25"},
        {"é", "%C3%A9", "%C3%A9"},
        {"", "", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(sarn::http::percent_encode(row.in), row.percent) << row.in;
        const sarn::http::QueryParam param[] = {{"k", std::string(row.in)}};
        EXPECT_EQ(sarn::http::form_encode(param), "k=" + std::string(row.form)) << row.in;
    }
    const sarn::http::QueryParam two[] = {{"a", "1"}, {"b", "2"}};
    EXPECT_EQ(sarn::http::with_query("http://h/p", two), "http://h/p?a=1&b=2");
    EXPECT_EQ(sarn::http::with_query("http://h/p?x=0", two), "http://h/p?x=0&a=1&b=2");
    EXPECT_EQ(sarn::http::with_query("http://h/p", {}), "http://h/p");
}

}  // namespace
