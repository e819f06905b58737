#include "client.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "protocol.h"

#ifndef KULIMBARA_HIGHSCORE_HOST
#define KULIMBARA_HIGHSCORE_HOST "localhost"
#endif

namespace {

using steady = std::chrono::steady_clock;

// A socket descriptor that closes itself.
class socket_fd {
  public:
    explicit socket_fd(int fd) : fd_(fd) {}
    socket_fd(const socket_fd&) = delete;
    socket_fd& operator=(const socket_fd&) = delete;
    ~socket_fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

// Waits until the socket is ready for `events` or the deadline passes; false on time-out.
bool wait_for(int fd, short events, steady::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
}

post_result failed(std::string what) {
    return {false, std::move(what)};
}

std::string system_error(const char* what) {
    return std::string(what) + ": " + std::generic_category().message(errno);
}

std::string host_header(const highscore_endpoint& endpoint) {
    if (endpoint.port == 80) {
        return endpoint.host;
    }
    return endpoint.host + ":" + std::to_string(endpoint.port);
}

// The status of the status line "HTTP/1.x NNN reason", or 0 for another line.
int status_of(std::string_view line) {
    if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[8] != ' ' ||
        (line.size() > 12 && line[12] != ' ')) {
        return 0;
    }
    int status = 0;
    for (std::size_t i = 9; i < 12; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return 0;
        }
        status = status * 10 + (line[i] - '0');
    }
    return status;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The Content-Length of an answer's head, or npos when it names none.
std::size_t content_length(std::string_view head) {
    for (std::size_t at = head.find('\n'); at != std::string_view::npos;) {
        const std::size_t next = head.find('\n', at + 1);
        std::string_view line =
            head.substr(at + 1, next == std::string_view::npos ? next : next - at - 1);
        at = next;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            equals_ignoring_case(line.substr(0, colon), "Content-Length")) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') {
                value.remove_prefix(1);
            }
            const std::optional<long long> length = parse_decimal(value, 1 << 30);
            return length ? static_cast<std::size_t>(*length) : std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

// The whole number after "rank": in a JSON body, or 0.
int rank_in(std::string_view body) {
    constexpr std::string_view member = "\"rank\":";
    const std::size_t at = body.find(member);
    if (at == std::string_view::npos) {
        return 0;
    }
    std::string_view digits = body.substr(at + member.size());
    while (!digits.empty() && digits.front() == ' ') {
        digits.remove_prefix(1);
    }
    std::size_t n = 0;
    while (n < digits.size() && n < 9 && digits[n] >= '0' && digits[n] <= '9') {
        ++n;
    }
    const std::optional<long long> rank = parse_decimal(digits.substr(0, n), 999'999'999);
    return rank ? static_cast<int>(*rank) : 0;
}

// Connects, sends `request` and reads the answer's status line; with `body`, the answer's body
// too. Every step gives up at `deadline`, except the name resolution.
post_result exchange(const std::string& request, const highscore_endpoint& endpoint,
                     steady::time_point deadline, std::string* body) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(endpoint.port);
    const int resolved = ::getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0 || found == nullptr) {
        return failed("cannot resolve " + endpoint.host + ": " + ::gai_strerror(resolved));
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);

    const socket_fd sock(
        ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (sock.get() < 0) {
        return failed(system_error("socket"));
    }
    if (::connect(sock.get(), found->ai_addr, found->ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            return failed(system_error("connect"));
        }
        if (!wait_for(sock.get(), POLLOUT, deadline)) {
            return failed("connect: no answer in time");
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            errno = error;
            return failed(system_error("connect"));
        }
    }

    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n =
            ::send(sock.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (!wait_for(sock.get(), POLLOUT, deadline)) {
                return failed("send: no progress in time");
            }
        } else {
            return failed(system_error("send"));
        }
    }

    // The status line; with a body wanted, the head and the body (up to its Content-Length or
    // the connection's end) too.
    std::string answer;
    constexpr std::size_t status_line_max = 512;
    constexpr std::size_t answer_max = 64 * 1024;
    post_result result;
    std::size_t body_start = std::string::npos;
    std::size_t body_length = std::string::npos;
    for (;;) {
        if (result.status == 0) {
            const std::size_t end = answer.find('\n');
            if (end != std::string::npos) {
                std::string line = answer.substr(0, end);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                result.status = status_of(line);
                result.success = result.status >= 200 && result.status < 300;
                result.detail = std::move(line);
                if (body == nullptr || result.status == 0) {
                    return result;
                }
            } else if (answer.size() >= status_line_max) {
                return failed("answer without a status line");
            }
        }
        if (result.status != 0 && body_start == std::string::npos) {
            const std::size_t blank = answer.find("\r\n\r\n");
            if (blank != std::string::npos) {
                body_start = blank + 4;
                body_length = content_length(std::string_view(answer).substr(0, blank));
            }
        }
        if (body_start != std::string::npos && body_length != std::string::npos &&
            answer.size() - body_start >= body_length) {
            *body = answer.substr(body_start, body_length);
            return result;
        }
        if (answer.size() >= answer_max) {
            return failed("answer longer than " + std::to_string(answer_max) + " bytes");
        }
        char buffer[4096];
        const ssize_t n = ::recv(sock.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            if (result.status == 0) {
                return failed("connection closed without an answer");
            }
            if (body_start != std::string::npos) {
                *body = answer.substr(body_start);
            }
            return result;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            if (!wait_for(sock.get(), POLLIN, deadline)) {
                return failed("no answer in time");
            }
        } else {
            return failed(system_error("recv"));
        }
    }
}

// A refusal's reason, the first line of the service's answer, after its status line; an answer
// without one, a long one or markup (a web server's error page) adds nothing.
void add_reason(post_result& result, std::string_view body) {
    std::string_view reason = body.substr(0, body.find('\n'));
    if (reason.ends_with('\r')) {
        reason.remove_suffix(1);
    }
    // It goes to a terminal as it is: printable ASCII only.
    const bool plain =
        std::ranges::all_of(reason, [](char c) { return c >= ' ' && c <= '~' && c != '<'; });
    if (result.status != 0 && plain && !reason.empty() && reason.size() <= 200) {
        result.detail += ": " + std::string(reason);
    }
}

}  // namespace

std::optional<highscore_endpoint> parse_highscore_url(std::string_view url) {
    constexpr std::string_view scheme = "http://";
    if (url.substr(0, scheme.size()) == scheme) {
        url.remove_prefix(scheme.size());
    } else if (url.find("://") != std::string_view::npos) {
        return std::nullopt;
    }
    if (!url.empty() && url.back() == '/') {
        url.remove_suffix(1);
    }
    highscore_endpoint endpoint;
    const std::size_t colon = url.find(':');
    endpoint.host = std::string(url.substr(0, colon));
    if (colon != std::string_view::npos) {
        const std::optional<long long> value = parse_decimal(url.substr(colon + 1), 65535);
        if (!value || *value < 1) {
            return std::nullopt;
        }
        endpoint.port = static_cast<int>(*value);
    }
    if (endpoint.host.empty()) {
        return std::nullopt;
    }
    for (const char c : endpoint.host) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!allowed) {
            return std::nullopt;
        }
    }
    return endpoint;
}

std::optional<highscore_endpoint> configured_endpoint() {
    const char* url = std::getenv("KULIMBARA_HIGHSCORE_URL");
    if (url != nullptr && *url != '\0') {
        return parse_highscore_url(url);
    }
    return highscore_endpoint{KULIMBARA_HIGHSCORE_HOST, 80};
}

post_result send_data(const std::string& url, const highscore_endpoint& endpoint,
                      steady::time_point deadline) {
    std::string body;
    post_result result =
        exchange("GET /highscore.php?" + url + " HTTP/1.1\r\nHost: " + host_header(endpoint) +
                     "\r\nConnection: close\r\n\r\n",
                 endpoint, deadline, &body);
    if (!result.success) {
        add_reason(result, body);
    }
    return result;
}

post_result send_replay(std::string_view replay_bytes, const highscore_endpoint& endpoint,
                        steady::time_point deadline) {
    std::string request = "POST /replays HTTP/1.1\r\nHost: " + host_header(endpoint) +
                          "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                          std::to_string(replay_bytes.size()) + "\r\nConnection: close\r\n\r\n";
    request += replay_bytes;
    std::string body;
    post_result result = exchange(request, endpoint, deadline, &body);
    if (result.success) {
        result.rank = rank_in(body);
    } else {
        add_reason(result, body);
    }
    return result;
}

struct score_post_worker::shared_state {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<post_result> result;
};

score_post_worker::score_post_worker(std::function<int()> random, std::chrono::milliseconds bound)
    : random_(std::move(random)), bound_(bound) {}

void score_post_worker::start(std::string_view name, int score, const highscore_endpoint& endpoint,
                              std::optional<std::string> replay_bytes) {
    state_ = std::make_shared<shared_state>();
    deadline_ = steady::now() + bound_;
    std::thread([state = state_, query = generate_params(name, score, random_), endpoint,
                 replay_bytes = std::move(replay_bytes), deadline = deadline_] {
        post_result result;
        if (replay_bytes) {
            result = send_replay(*replay_bytes, endpoint, deadline);
        }
        if (!replay_bytes || is_replays_unknown_status(result.status)) {
            result = send_data(query, endpoint, deadline);
        }
        const std::lock_guard lock(state->mutex);
        state->result = std::move(result);
        state->done.notify_all();
    }).detach();
}

void score_post_worker::start(std::string_view name, int score,
                              std::optional<std::string> replay_bytes) {
    const std::optional<highscore_endpoint> endpoint = configured_endpoint();
    if (endpoint) {
        start(name, score, *endpoint, std::move(replay_bytes));
        return;
    }
    state_ = std::make_shared<shared_state>();
    deadline_ = steady::now();
    state_->result = failed("KULIMBARA_HIGHSCORE_URL is not of the form http://HOST[:PORT]");
}

std::optional<post_result> score_post_worker::poll() {
    if (!state_) {
        return std::nullopt;
    }
    const std::lock_guard lock(state_->mutex);
    if (state_->result) {
        return state_->result;
    }
    if (steady::now() >= deadline_) {
        return failed("no result within " + std::to_string(bound_.count()) + " ms");
    }
    return std::nullopt;
}

post_result score_post_worker::wait() {
    if (!state_) {
        return failed("no post started");
    }
    for (;;) {
        if (std::optional<post_result> result = poll()) {
            return *result;
        }
        std::unique_lock lock(state_->mutex);
        state_->done.wait_until(lock, deadline_, [this] { return state_->result.has_value(); });
    }
}

post_result send_score_online(std::string_view name, int score, std::function<int()> random) {
    score_post_worker worker(std::move(random));
    worker.start(name, score);
    return worker.wait();
}
