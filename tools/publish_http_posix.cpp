// POSIX sockets half of publish_manifest's HTTP client: one kept-alive connection, GET requests, bodies by
// Content-Length, chunked or until close; single-threaded.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "common/text.h"
#include "tools/publish_http.h"

namespace {

enum {
    TimeoutSeconds = 30,        // as a launcher's transfer time-out: no connection or no data for this long
    MaxHeadLine = 16 * 1024,    // one header line; the launcher's own bound on a whole head is larger
    MaxHeadLines = 200,
    MaxRedirects = 5,
};

struct Head {
    int status = 0;
    bool keepAlive = true;  // HTTP/1.1 without "Connection: close"
    bool chunked = false;
    bool hasLength = false;
    uint64_t length = 0;
    std::string location, cacheControl, contentEncoding;
};

enum ReadEnd { ReadDone, ReadStopped, ReadCut };

// One connection to one host, with a read buffer; kept between requests while the server allows.
class Connection {
public:
    ~Connection() { Close(); }

    bool IsOpenTo(const std::string& host, const std::string& port) const {
        return fd_ >= 0 && host == host_ && port == port_;
    }

    bool Open(const std::string& host, const std::string& port, std::string* error) {
        Close();
        addrinfo hints{}, *found = nullptr;
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        if (int failure = getaddrinfo(host.c_str(), port.c_str(), &hints, &found)) {
            *error = "cannot find " + host + ": " + gai_strerror(failure);
            return false;
        }
        std::string reason = "no address";
        for (addrinfo* at = found; at && fd_ < 0; at = at->ai_next) {
            int fd = socket(at->ai_family, at->ai_socktype, at->ai_protocol);
            if (fd < 0) continue;
            if (ConnectWithin(fd, at->ai_addr, at->ai_addrlen, &reason)) {
                fd_ = fd;
            } else {
                close(fd);
            }
        }
        freeaddrinfo(found);
        if (fd_ < 0) {
            *error = "cannot connect to " + host + ":" + port + ": " + reason;
            return false;
        }
        timeval timeout{TimeoutSeconds, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        host_ = host;
        port_ = port;
        begin_ = end_ = 0;
        return true;
    }

    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    bool Send(const std::string& data, std::string* error) {
        for (size_t sent = 0; sent < data.size();) {
            ssize_t count = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (count <= 0) {
                *error = std::string("cannot send the request: ") + strerror(errno);
                return false;
            }
            sent += (size_t)count;
        }
        return true;
    }

    // A line ended by LF, without its CR LF; false at the end of the connection or on an error (error filled),
    // or when it is longer than limit.
    bool ReadLine(std::string* line, size_t limit, std::string* error) {
        line->clear();
        for (;;) {
            const char* start = buffer_ + begin_;
            const char* lf = (const char*)memchr(start, '\n', end_ - begin_);
            size_t take = lf ? (size_t)(lf - start) : end_ - begin_;
            line->append(start, take);
            begin_ += take + (lf ? 1 : 0);
            if (line->size() > limit) {
                *error = "an answer line longer than " + std::to_string(limit) + " bytes";
                return false;
            }
            if (lf) {
                if (!line->empty() && line->back() == '\r') line->pop_back();
                return true;
            }
            if (!Fill(error)) {
                if (error->empty()) *error = "the server closed the connection";
                return false;
            }
        }
    }

    // Passes the next count bytes to give (all that arrive until the end when untilClose).
    ReadEnd Read(uint64_t count, bool untilClose, const HttpBodySink& give, std::string* error) {
        while (untilClose || count > 0) {
            if (begin_ == end_ && !Fill(error)) return untilClose && error->empty() ? ReadDone : ReadCut;
            size_t take = end_ - begin_;
            if (!untilClose && take > count) take = (size_t)count;
            const char* start = buffer_ + begin_;
            begin_ += take;
            count -= untilClose ? 0 : take;
            if (!give(start, take)) return ReadStopped;
        }
        return ReadDone;
    }

private:
    static bool ConnectWithin(int fd, const sockaddr* address, socklen_t length, std::string* reason) {
        int flags = fcntl(fd, F_GETFL, 0);
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        int result = connect(fd, address, length);
        if (result < 0 && errno == EINPROGRESS) {
            pollfd wait{fd, POLLOUT, 0};
            result = poll(&wait, 1, TimeoutSeconds * 1000);
            if (result == 0) {
                *reason = "no answer within " + std::to_string(TimeoutSeconds) + " s";
                return false;
            }
            int failure = 0;
            socklen_t size = sizeof failure;
            if (result > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
            errno = result < 0 ? errno : failure;
            result = result < 0 || failure ? -1 : 0;
        }
        if (result < 0) {
            *reason = strerror(errno);
            return false;
        }
        fcntl(fd, F_SETFL, flags);
        return true;
    }

    // Reads more into the buffer; false at the end of the connection (error empty) or on an error.
    bool Fill(std::string* error) {
        if (begin_ == end_) begin_ = end_ = 0;
        if (end_ == sizeof buffer_) {
            memmove(buffer_, buffer_ + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        ssize_t count;
        do {
            count = recv(fd_, buffer_ + end_, sizeof buffer_ - end_, 0);
        } while (count < 0 && errno == EINTR);
        if (count < 0) {
            *error = errno == EAGAIN || errno == EWOULDBLOCK
                         ? "no data for " + std::to_string(TimeoutSeconds) + " s"
                         : std::string(strerror(errno));
            return false;
        }
        end_ += (size_t)count;
        error->clear();
        return count > 0;
    }

    int fd_ = -1;
    std::string host_, port_;
    char buffer_[64 * 1024];
    size_t begin_ = 0, end_ = 0;
};

Connection Shared;

std::string Lower(std::string text) {
    for (char& c : text) c = FoldCase(c);
    return text;
}

std::string Trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t"), end = text.find_last_not_of(" \t");
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

// Reads a status line and the headers after it; skips 1xx answers.
bool ReadHead(Connection& connection, Head* head, std::string* error) {
    std::string line;
    do {
        *head = Head();
        if (!connection.ReadLine(&line, MaxHeadLine, error)) return false;
        // "HTTP/1.1 200 OK"
        if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0 || line[8] != ' ' || !isdigit((unsigned char)line[9]) ||
            !isdigit((unsigned char)line[10]) || !isdigit((unsigned char)line[11])) {
            *error = "not an HTTP answer: " + line.substr(0, 80);
            return false;
        }
        head->status = atoi(line.substr(9, 3).c_str());
        head->keepAlive = line.compare(0, 8, "HTTP/1.1") == 0;
        for (int count = 0;; ++count) {
            if (count == MaxHeadLines || !connection.ReadLine(&line, MaxHeadLine, error)) {
                if (count == MaxHeadLines) *error = "more than " + std::to_string(MaxHeadLines) + " header lines";
                return false;
            }
            if (line.empty()) break;
            size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            const std::string name = Lower(line.substr(0, colon)), value = Trimmed(line.substr(colon + 1));
            if (name == "content-length") {
                head->hasLength = ParseDecimal(value.data(), value.size(), UINT64_MAX / 2, &head->length);
                if (!head->hasLength) {
                    *error = "a Content-Length that is not a number: " + value;
                    return false;
                }
            } else if (name == "transfer-encoding") {
                const std::string codings = Lower(value);
                head->chunked = codings.size() >= 7 && codings.compare(codings.size() - 7, 7, "chunked") == 0;
            } else if (name == "connection") {
                const std::string options = Lower(value);
                if (options.find("close") != std::string::npos) head->keepAlive = false;
                if (options.find("keep-alive") != std::string::npos) head->keepAlive = true;
            } else if (name == "location") {
                head->location = value;
            } else if (name == "cache-control") {
                head->cacheControl = value;
            } else if (name == "content-encoding") {
                head->contentEncoding = value;
            }
        }
    } while (head->status >= 100 && head->status < 200);
    return true;
}

// Reads the body the head announces into give; false with error when the answer is malformed. A body cut short
// sets answer->cut; the connection is closed whenever it cannot carry the next request.
bool ReadBody(Connection& connection, const Head& head, const HttpBodySink& give, HttpAnswer* answer,
              std::string* error) {
    ReadEnd end = ReadDone;
    if (head.status == 204 || head.status == 304) {
        // no body
    } else if (head.chunked) {
        std::string line;
        for (;;) {
            if (!connection.ReadLine(&line, MaxHeadLine, error)) {
                end = ReadCut;
                break;
            }
            char* after = nullptr;
            unsigned long long size = strtoull(line.c_str(), &after, 16);
            if (after == line.c_str() || (*after && *after != ';' && *after != ' ')) {
                *error = "a malformed chunk size: " + line.substr(0, 40);
                connection.Close();
                return false;
            }
            if (size == 0) {
                while (connection.ReadLine(&line, MaxHeadLine, error) && !line.empty()) {
                }
                break;
            }
            end = connection.Read(size, false, give, error);
            if (end != ReadDone) break;
            if (!connection.ReadLine(&line, MaxHeadLine, error) || !line.empty()) {
                end = ReadCut;
                break;
            }
        }
    } else if (head.hasLength) {
        end = connection.Read(head.length, false, give, error);
    } else {
        end = connection.Read(0, true, give, error);
        connection.Close();
    }
    answer->cut = end == ReadCut;
    if (end != ReadDone || !head.keepAlive) connection.Close();
    return true;
}

// Sends a GET of target to host:port and reads the answer's head, on the kept connection when it is to that host;
// a kept connection the server has closed meanwhile is opened again once.
bool Exchange(const std::string& host, const std::string& port, const std::string& target, Head* head,
              std::string* error) {
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host + (port == "80" ? "" : ":" + port) +
                                "\r\nUser-Agent: publish_manifest\r\nAccept: */*\r\nConnection: keep-alive\r\n\r\n";
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool reused = Shared.IsOpenTo(host, port);
        if (!reused && !Shared.Open(host, port, error)) return false;
        if (Shared.Send(request, error) && ReadHead(Shared, head, error)) return true;
        Shared.Close();
        if (!reused) return false;
    }
    return false;
}

// Splits an absolute "http://host[:port]/target" address.
bool SplitHttpUrl(const std::string& url, std::string* host, std::string* port, std::string* target) {
    static const char Scheme[] = "http://";
    if (url.compare(0, sizeof Scheme - 1, Scheme) != 0) return false;
    size_t start = sizeof Scheme - 1, slash = url.find('/', start);
    std::string authority = url.substr(start, slash == std::string::npos ? slash : slash - start);
    *target = slash == std::string::npos ? "/" : url.substr(slash);
    size_t colon = authority.find(':');
    *host = authority.substr(0, colon);
    *port = colon == std::string::npos ? "80" : authority.substr(colon + 1);
    return !host->empty() && !port->empty();
}

}  // namespace

const char* HttpUnavailable() { return nullptr; }

bool HttpGet(const HttpBase& base, const std::string& path, const HttpBodySink& sink, HttpAnswer* answer,
             std::string* error) {
    std::string host = base.host, port = base.port, target = HttpRequestTarget(base, path);
    const HttpBodySink discard = [](const char*, size_t) { return true; };
    for (int redirects = 0;; ++redirects) {
        Head head;
        if (!Exchange(host, port, target, &head, error)) return false;
        *answer = HttpAnswer();
        answer->status = head.status;
        answer->cacheControl = head.cacheControl;
        answer->contentEncoding = head.contentEncoding;
        const bool redirect = head.status >= 300 && head.status < 400 && head.status != 304 && !head.location.empty();
        HttpBodySink give = [&](const char* data, size_t size) {
            answer->bytes += size;
            return (redirect ? discard : sink)(data, size);
        };
        if (!ReadBody(Shared, head, give, answer, error)) return false;
        if (!redirect) return true;
        if (redirects == MaxRedirects) {
            *error = "more than " + std::to_string(MaxRedirects) + " redirects";
            return false;
        }
        if (head.location[0] == '/') {
            target = head.location;
        } else if (!SplitHttpUrl(head.location, &host, &port, &target)) {
            *error = "redirected to " + head.location + ", which is not an http:// address";
            return false;
        }
    }
}
