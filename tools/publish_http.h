// A small HTTP/1.1 client for publish_manifest --check URL: plain GET requests to one server, as a launcher makes
// them; single-threaded. The native build speaks over POSIX sockets (publish_http_posix.cpp); the Windows build of
// the tool has none (publish_http_unavailable.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>

// An "http://HOST[:PORT]/PATH/" base address: a host name or an IPv4 address, an optional port, and the path the
// files lie under, which always ends in '/'.
struct HttpBase {
    std::string host;
    std::string port = "80";
    std::string path = "/";
};

// Reads a base address; false with error filled when it is not one (https, a user name, an IPv6 literal, a query).
bool ParseHttpBase(const std::string& text, HttpBase* base, std::string* error);

// The request target of a file under base: the path's bytes as they are, but those a request line cannot carry
// (controls, blanks, bytes above 127) and '%', '#' and '?' percent-encoded, so each names the file itself.
std::string HttpRequestTarget(const HttpBase& base, const std::string& path);

struct HttpAnswer {
    int status = 0;              // of the last answer, after redirects
    std::string cacheControl;    // its Cache-Control header, empty when none
    std::string contentEncoding; // its Content-Encoding header, empty when none
    uint64_t bytes = 0;          // body bytes received
    bool cut = false;            // the connection ended before the announced end of the body
};

// Receives the body in pieces; returns false to stop reading (the connection is then closed).
typedef std::function<bool(const char* data, size_t size)> HttpBodySink;

// Null where the tool can fetch; otherwise why it cannot (the Windows build of the tool).
const char* HttpUnavailable();

// GETs base's path + path: follows up to 5 redirects within http://, reads Content-Length, chunked and
// until-close bodies, and gives the final answer's body (whatever its status) to sink. Keeps the connection for the
// next request when the server allows. False with error filled when no answer arrived (name not found, refused,
// timed out after 30 s without data, a malformed answer, too many redirects).
bool HttpGet(const HttpBase& base, const std::string& path, const HttpBodySink& sink, HttpAnswer* answer,
             std::string* error);
