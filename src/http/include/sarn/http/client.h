// A small blocking HTTP client over libcurl for the program's outside
// services. Only http and https are spoken, also across redirects; every
// answer body is capped; failures come back as values, nothing throws.
//
// Threads: a Client is used by one thread at a time (it keeps one curl
// handle and its connection cache). Different clients may be used on
// different threads at once. The free functions are safe on any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sarn::http {

inline constexpr std::size_t kDefaultBodyLimit = 4 * 1024 * 1024;

enum class ErrorKind {
    Setup,             // the client or a request could not be prepared
    InvalidAddress,    // not an absolute http or https address
    UnsupportedScheme, // another scheme, also when reached by a redirect
    Connect,           // name resolution or connection failed
    Timeout,           // the client's time-out ran out (also a stalled body)
    TooLarge,          // the body passed the cap (only with OverLimit::Fail)
    Transport,         // any other failure while sending or receiving
    Status,            // from check_status: the status is outside 200-299
};

struct Error {
    ErrorKind kind = ErrorKind::Transport;
    std::string message;  // display text, complete in itself
    long status = 0;      // the HTTP status for ErrorKind::Status
};

struct Header {
    std::string name;
    std::string value;
};

struct QueryParam {
    std::string key;
    std::string value;
};

// What happens when a body passes the cap.
enum class OverLimit {
    Fail,      // the request fails with ErrorKind::TooLarge
    Truncate,  // the transfer stops; the answer keeps the first bytes
};

enum class Method { Get, Post };

struct Request {
    Method method = Method::Get;
    std::string url;                 // absolute http or https address
    std::vector<QueryParam> query;   // form-encoded and appended to url
    std::vector<Header> headers;
    std::string body;                // sent with Post
    std::optional<std::size_t> body_limit;  // overrides the client's cap
    std::optional<std::chrono::milliseconds> timeout;  // overrides the client's time-out
    OverLimit over_limit = OverLimit::Fail;
};

struct Response {
    long status = 0;
    std::string body;
    std::string final_url;   // after redirects
    std::string content_type;
    bool truncated = false;  // OverLimit::Truncate stopped the transfer

    bool success() const { return status >= 200 && status <= 299; }
};

struct ClientOptions {
    std::string user_agent;
    std::chrono::milliseconds timeout{8000};  // whole request, body included
    std::size_t body_limit = kDefaultBodyLimit;
    long max_redirects = 10;
};

class Client {
public:
    // Fails only when libcurl cannot make a handle.
    static std::expected<Client, Error> create(ClientOptions options);

    Client(Client&&) noexcept;
    Client& operator=(Client&&) noexcept;
    ~Client();

    const ClientOptions& options() const { return m_options; }

    std::expected<Response, Error> send(const Request& request);

    std::expected<Response, Error> get(std::string_view url,
                                       std::span<const QueryParam> query = {},
                                       std::span<const Header> headers = {});

    // POST with "Content-Type: application/json" and the given body.
    std::expected<Response, Error> post_json(std::string_view url, std::string_view json,
                                             std::span<const QueryParam> query = {},
                                             std::span<const Header> headers = {});

private:
    struct Handle;
    Client(ClientOptions options, std::unique_ptr<Handle> handle);

    ClientOptions m_options;
    std::unique_ptr<Handle> m_handle;
};

// Fails with ErrorKind::Status ("HTTP status 404") unless 200-299.
std::expected<void, Error> check_status(const Response& response);

// Percent-encoding of one path segment or query value: everything but
// unreserved characters (A-Z a-z 0-9 - . _ ~) becomes %XX.
std::string percent_encode(std::string_view text);

// application/x-www-form-urlencoded pairs joined by "&" (blank as "+").
std::string form_encode(std::span<const QueryParam> query);

// The address with the encoded query appended after "?" or "&".
std::string with_query(std::string_view url, std::span<const QueryParam> query);

}  // namespace sarn::http
