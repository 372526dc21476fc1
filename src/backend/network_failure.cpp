#include "sarn/backend/network_failure.h"

#include <array>

namespace sarn {

namespace {

// Each names a failure to connect or to resolve a name, never a refused or
// broken answer (an HTTP status, a time-out, a parse failure).
constexpr std::array<std::string_view, 15> kUnreachableTexts{{
    "could not connect (",           // our HTTP client, on connect and resolve failures
    "Connection refused",            // errno ECONNREFUSED, in every layer
    "Network is unreachable",        // ENETUNREACH
    "No route to host",              // EHOSTUNREACH
    "Name or service not known",     // getaddrinfo, glibc
    "Temporary failure in name resolution",
    "No address associated with hostname",
    "nodename nor servname provided",
    "getaddrinfo failed",
    "Failed to resolve",             // yt-dlp's own networking layer
    "Failed to establish a new connection",  // urllib3
    "Could not resolve host",        // curl
    "Could not resolve proxy",
    "Couldn't connect to server",
    "Failed to connect to",
}};

}  // namespace

bool network_unreachable(std::string_view error_text) {
    for (std::string_view text : kUnreachableTexts) {
        if (error_text.find(text) != std::string_view::npos) return true;
    }
    return false;
}

}  // namespace sarn
