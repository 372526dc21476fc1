#include "sarn/http/client.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>

#include <fmt/format.h>

namespace sarn::http {

namespace {

// libcurl is opened with the first client, not when the program starts: it and
// the TLS, Kerberos and LDAP libraries under it are a quarter of the shared
// libraries a start would otherwise map and relocate before its first frame,
// for a program that may fetch nothing before it is on screen.
struct CurlLibrary {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_reset) easy_reset = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

constexpr const char* kCurlLibraryName = "libcurl.so.4";

// Opens libcurl and initialises it, once per process; safe from any thread.
// The library stays loaded until the process ends.
const std::expected<CurlLibrary, std::string>& curl_library() {
    static const std::expected<CurlLibrary, std::string> loaded = []() -> std::expected<CurlLibrary, std::string> {
        void* handle = dlopen(kCurlLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = dlerror();
            return std::unexpected(fmt::format("the HTTP library {} could not be loaded: {}", kCurlLibraryName,
                                               why != nullptr ? why : "unknown error"));
        }
        CurlLibrary lib;
        bool complete = true;
        auto bind = [&](auto& slot, const char* name) {
            void* symbol = dlsym(handle, name);
            if (symbol == nullptr) complete = false;
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
        };
        bind(lib.global_init, "curl_global_init");
        bind(lib.easy_init, "curl_easy_init");
        bind(lib.easy_cleanup, "curl_easy_cleanup");
        bind(lib.easy_reset, "curl_easy_reset");
        bind(lib.easy_setopt, "curl_easy_setopt");
        bind(lib.easy_perform, "curl_easy_perform");
        bind(lib.easy_getinfo, "curl_easy_getinfo");
        bind(lib.easy_strerror, "curl_easy_strerror");
        bind(lib.slist_append, "curl_slist_append");
        bind(lib.slist_free_all, "curl_slist_free_all");
        if (!complete) {
            return std::unexpected(fmt::format("the HTTP library {} lacks functions this program uses", kCurlLibraryName));
        }
        if (lib.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            return std::unexpected(fmt::format("the HTTP library {} could not be initialised", kCurlLibraryName));
        }
        return lib;
    }();
    return loaded;
}

// Only reached through a handle, which exists only once the library loaded.
const CurlLibrary& curl_api() { return *curl_library(); }

bool starts_with_ci(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// Loopback addresses never go through a proxy from the environment.
std::string no_proxy_list() {
    std::string list = "localhost,127.0.0.1,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
            list += ',';
            list += value;
            break;
        }
    }
    return list;
}

struct Sink {
    std::string* body = nullptr;
    std::size_t limit = 0;
    OverLimit over_limit = OverLimit::Fail;
    bool overflowed = false;
};

size_t write_body(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    const std::size_t room = sink->limit - std::min(sink->limit, sink->body->size());
    if (n <= room) {
        sink->body->append(data, n);
        return n;
    }
    if (sink->over_limit == OverLimit::Truncate) sink->body->append(data, room);
    sink->overflowed = true;
    return 0;  // stops the transfer
}

Error make_error(ErrorKind kind, std::string message) {
    return Error{kind, std::move(message), 0};
}

}  // namespace

struct Client::Handle {
    CURL* curl = nullptr;
    ~Handle() {
        if (curl != nullptr) curl_api().easy_cleanup(curl);
    }
};

Client::Client(ClientOptions options, std::unique_ptr<Handle> handle)
    : m_options(std::move(options)), m_handle(std::move(handle)) {}
Client::Client(Client&&) noexcept = default;
Client& Client::operator=(Client&&) noexcept = default;
Client::~Client() = default;

std::expected<Client, Error> Client::create(ClientOptions options) {
    const auto& library = curl_library();
    if (!library) return std::unexpected(make_error(ErrorKind::Setup, library.error()));
    auto handle = std::make_unique<Handle>();
    handle->curl = library->easy_init();
    if (handle->curl == nullptr) {
        return std::unexpected(make_error(ErrorKind::Setup, "could not create an HTTP handle"));
    }
    return Client(std::move(options), std::move(handle));
}

std::expected<Response, Error> Client::get(std::string_view url, std::span<const QueryParam> query,
                                           std::span<const Header> headers) {
    Request request;
    request.url = std::string(url);
    request.query.assign(query.begin(), query.end());
    request.headers.assign(headers.begin(), headers.end());
    return send(request);
}

std::expected<Response, Error> Client::post_json(std::string_view url, std::string_view json,
                                                 std::span<const QueryParam> query,
                                                 std::span<const Header> headers) {
    Request request;
    request.method = Method::Post;
    request.url = std::string(url);
    request.query.assign(query.begin(), query.end());
    request.headers.assign(headers.begin(), headers.end());
    request.headers.push_back({"Content-Type", "application/json"});
    request.body = std::string(json);
    return send(request);
}

std::expected<Response, Error> Client::send(const Request& request) {
    if (!m_handle || m_handle->curl == nullptr) {
        return std::unexpected(make_error(ErrorKind::Setup, "HTTP client was moved from"));
    }
    const bool http = starts_with_ci(request.url, "http://");
    const bool https = starts_with_ci(request.url, "https://");
    if (!http && !https) {
        if (request.url.find("://") != std::string::npos) {
            return std::unexpected(make_error(ErrorKind::UnsupportedScheme,
                                              "only http and https addresses are fetched"));
        }
        return std::unexpected(make_error(ErrorKind::InvalidAddress,
                                          fmt::format("not an http address: {}", request.url)));
    }
    const std::string url = with_query(request.url, request.query);

    CURL* curl = m_handle->curl;
    curl_api().easy_reset(curl);

    Response response;
    Sink sink{&response.body, request.body_limit.value_or(m_options.body_limit), request.over_limit, false};
    char errbuf[CURL_ERROR_SIZE] = {};

    curl_slist* header_list = nullptr;
    for (const Header& header : request.headers) {
        const std::string line = fmt::format("{}: {}", header.name, header.value);
        curl_slist* next = curl_api().slist_append(header_list, line.c_str());
        if (next == nullptr) {
            curl_api().slist_free_all(header_list);
            return std::unexpected(make_error(ErrorKind::Setup, "out of memory for request headers"));
        }
        header_list = next;
    }
    struct ListGuard {
        curl_slist* list;
        ~ListGuard() { curl_api().slist_free_all(list); }
    } guard{header_list};

    const std::string no_proxy = no_proxy_list();
    const auto timeout = request.timeout.value_or(m_options.timeout);
    const long timeout_ms = static_cast<long>(std::max<std::int64_t>(1, timeout.count()));

    curl_api().easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_api().easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_api().easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_api().easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_api().easy_setopt(curl, CURLOPT_MAXREDIRS, m_options.max_redirects);
    curl_api().easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_api().easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms);
    curl_api().easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
    curl_api().easy_setopt(curl, CURLOPT_NOPROXY, no_proxy.c_str());
    curl_api().easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_api().easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    curl_api().easy_setopt(curl, CURLOPT_WRITEFUNCTION, &write_body);
    curl_api().easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (!m_options.user_agent.empty()) curl_api().easy_setopt(curl, CURLOPT_USERAGENT, m_options.user_agent.c_str());
    if (header_list != nullptr) curl_api().easy_setopt(curl, CURLOPT_HTTPHEADER, header_list);
    if (request.method == Method::Post) {
        curl_api().easy_setopt(curl, CURLOPT_POST, 1L);
        curl_api().easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_api().easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }
    if (request.over_limit == OverLimit::Fail) {
        curl_api().easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.limit));
    }

    const CURLcode code = curl_api().easy_perform(curl);

    long status = 0;
    curl_api().easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response.status = status;
    if (char* final_url = nullptr; curl_api().easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &final_url) == CURLE_OK &&
                                   final_url != nullptr) {
        response.final_url = final_url;
    }
    if (char* type = nullptr; curl_api().easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) {
        response.content_type = type;
    }
    // The handle must not keep pointers into this frame.
    curl_api().easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_api().easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);

    if (code == CURLE_OK) return response;

    if (sink.overflowed || code == CURLE_FILESIZE_EXCEEDED) {
        if (request.over_limit == OverLimit::Truncate && code == CURLE_WRITE_ERROR) {
            response.truncated = true;
            return response;
        }
        return std::unexpected(make_error(
            ErrorKind::TooLarge, fmt::format("response body exceeds {} bytes", sink.limit)));
    }
    const std::string detail = errbuf[0] != '\0' ? std::string(errbuf) : std::string(curl_api().easy_strerror(code));
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return std::unexpected(make_error(ErrorKind::Timeout, fmt::format("request timed out ({})", detail)));
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return std::unexpected(make_error(ErrorKind::Connect, fmt::format("could not connect ({})", detail)));
        case CURLE_UNSUPPORTED_PROTOCOL:
            return std::unexpected(make_error(ErrorKind::UnsupportedScheme,
                                              fmt::format("only http and https addresses are fetched ({})", detail)));
        case CURLE_URL_MALFORMAT:
            return std::unexpected(make_error(ErrorKind::InvalidAddress, fmt::format("bad address ({})", detail)));
        default:
            return std::unexpected(make_error(ErrorKind::Transport, fmt::format("HTTP transfer failed ({})", detail)));
    }
}

std::expected<void, Error> check_status(const Response& response) {
    if (response.success()) return {};
    return std::unexpected(Error{ErrorKind::Status, fmt::format("HTTP status {}", response.status), response.status});
}

std::string percent_encode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

namespace {
std::string form_encode_one(std::string_view text) {
    std::string encoded = percent_encode(text);
    std::string out;
    out.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded.compare(i, 3, "%20") == 0) {
            out.push_back('+');
            i += 2;
        } else {
            out.push_back(encoded[i]);
        }
    }
    return out;
}
}  // namespace

std::string form_encode(std::span<const QueryParam> query) {
    std::string out;
    for (const QueryParam& param : query) {
        if (!out.empty()) out.push_back('&');
        out += form_encode_one(param.key);
        out.push_back('=');
        out += form_encode_one(param.value);
    }
    return out;
}

std::string with_query(std::string_view url, std::span<const QueryParam> query) {
    std::string out(url);
    if (query.empty()) return out;
    const std::size_t fragment = out.find('#');
    std::string tail;
    if (fragment != std::string::npos) {
        tail = out.substr(fragment);
        out.resize(fragment);
    }
    out.push_back(out.find('?') == std::string::npos ? '?' : '&');
    out += form_encode(query);
    return out + tail;
}

}  // namespace sarn::http
