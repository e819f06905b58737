#include "client.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

// The status line "HTTP/1.x NNN reason": true for a 2xx status.
bool is_success_status(std::string_view line) {
    if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[8] != ' ') {
        return false;
    }
    for (std::size_t i = 9; i < 12; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return false;
        }
    }
    return line[9] == '2' && (line.size() == 12 || line[12] == ' ');
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
    const std::string url_send = "GET /highscore.php?" + url +
                                 " HTTP/1.1\r\nHost: " + host_header(endpoint) +
                                 "\r\nConnection: close\r\n\r\n";

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
    while (sent < url_send.size()) {
        const ssize_t n =
            ::send(sock.get(), url_send.data() + sent, url_send.size() - sent, MSG_NOSIGNAL);
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

    // Only the status line matters; the rest of the answer is left unread.
    std::string answer;
    constexpr std::size_t status_line_max = 512;
    for (;;) {
        const std::size_t end = answer.find('\n');
        if (end != std::string::npos) {
            std::string line = answer.substr(0, end);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return {is_success_status(line), line};
        }
        if (answer.size() >= status_line_max) {
            return failed("answer without a status line");
        }
        char buffer[256];
        const ssize_t n = ::recv(sock.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return failed("connection closed without an answer");
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            if (!wait_for(sock.get(), POLLIN, deadline)) {
                return failed("no answer in time");
            }
        } else {
            return failed(system_error("recv"));
        }
    }
}

struct score_post_worker::shared_state {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<post_result> result;
};

score_post_worker::score_post_worker(std::function<int()> random, std::chrono::milliseconds bound)
    : random_(std::move(random)), bound_(bound) {}

void score_post_worker::start(std::string_view name, int score,
                              const highscore_endpoint& endpoint) {
    state_ = std::make_shared<shared_state>();
    deadline_ = steady::now() + bound_;
    std::thread([state = state_, query = generate_params(name, score, random_), endpoint,
                 deadline = deadline_] {
        post_result result = send_data(query, endpoint, deadline);
        const std::lock_guard lock(state->mutex);
        state->result = std::move(result);
        state->done.notify_all();
    }).detach();
}

void score_post_worker::start(std::string_view name, int score) {
    const std::optional<highscore_endpoint> endpoint = configured_endpoint();
    if (endpoint) {
        start(name, score, *endpoint);
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
