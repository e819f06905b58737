// SPDX-License-Identifier: MIT
#include "client.h"

#include <arpa/inet.h>
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
#define KULIMBARA_HIGHSCORE_HOST ""
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
    int release() { return std::exchange(fd_, -1); }

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

post_result failed(post_failure why, std::string what) {
    post_result result;
    result.detail = std::move(what);
    result.failure = why;
    return result;
}

std::string system_error(const char* what) {
    return std::string(what) + ": " + std::generic_category().message(errno);
}

bool is_ipv6_literal(const std::string& host) {
    return host.find(':') != std::string::npos;
}

std::string host_header(const highscore_endpoint& endpoint) {
    std::string host = is_ipv6_literal(endpoint.host) ? "[" + endpoint.host + "]" : endpoint.host;
    if (endpoint.port == 80) {
        return host;
    }
    return host + ":" + std::to_string(endpoint.port);
}

// A connected socket to one of the addresses, tried in the order the resolver gave them
// (a name may have an IPv6 address where no board listens, and an IPv4 one where it does),
// or -1 with the last failure in `error`.
int connect_any(const addrinfo* addresses, steady::time_point deadline, std::string& error) {
    error = "connect: no address";
    for (const addrinfo* at = addresses; at != nullptr; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                at->ai_protocol);
        if (fd < 0) {
            error = system_error("socket");
            continue;
        }
        socket_fd sock(fd);
        if (::connect(fd, at->ai_addr, at->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                error = system_error("connect");
                continue;
            }
            if (!wait_for(fd, POLLOUT, deadline)) {
                error = "connect: no answer in time";
                return -1;
            }
            int failure = 0;
            socklen_t length = sizeof failure;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0 || failure != 0) {
                errno = failure;
                error = system_error("connect");
                continue;
            }
        }
        return sock.release();
    }
    return -1;
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

// What an exchange reads of the answer after its status line.
enum class answer_body {
    refusal_only,  // a refusal's body, for its reason
    always,        // the body whatever the status
};

// Connects, sends `request` and reads the answer's status line, and its body as `wanted` asks
// (into `body`). Every step gives up at `deadline`, except the name resolution.
post_result exchange(const std::string& request, const highscore_endpoint& endpoint,
                     steady::time_point deadline, answer_body wanted, std::string& body) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(endpoint.port);
    const int resolved = ::getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0 || found == nullptr) {
        return failed(post_failure::could_not_connect,
                      "cannot resolve " + endpoint.host + ": " + ::gai_strerror(resolved));
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);

    std::string connect_error;
    const socket_fd sock(connect_any(found, deadline, connect_error));
    if (sock.get() < 0) {
        return failed(
            steady::now() >= deadline ? post_failure::no_answer : post_failure::could_not_connect,
            connect_error);
    }

    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n =
            ::send(sock.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (!wait_for(sock.get(), POLLOUT, deadline)) {
                return failed(post_failure::no_answer, "send: no progress in time");
            }
        } else {
            return failed(post_failure::could_not_connect, system_error("send"));
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
                if (result.status == 0) {
                    return failed(post_failure::bad_answer, "no status line: " + line);
                }
                result.success = result.status >= 200 && result.status < 300;
                if (!result.success) {
                    result.failure = post_failure::refused;
                    result.reason = line.size() > 13 ? line.substr(13) : "";
                }
                result.detail = std::move(line);
                if (result.success && wanted == answer_body::refusal_only) {
                    return result;
                }
            } else if (answer.size() >= status_line_max) {
                return failed(post_failure::bad_answer, "answer without a status line");
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
            body = answer.substr(body_start, body_length);
            return result;
        }
        if (answer.size() >= answer_max) {
            return failed(post_failure::bad_answer,
                          "answer longer than " + std::to_string(answer_max) + " bytes");
        }
        char buffer[4096];
        const ssize_t n = ::recv(sock.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            if (result.status == 0) {
                return failed(post_failure::bad_answer, "connection closed without an answer");
            }
            if (body_start != std::string::npos) {
                body = answer.substr(body_start);
            }
            return result;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            if (!wait_for(sock.get(), POLLIN, deadline)) {
                // A refusal whose body does not come in time still is a refusal.
                if (result.status != 0) {
                    return result;
                }
                return failed(post_failure::no_answer, "no answer in time");
            }
        } else {
            return failed(post_failure::could_not_connect, system_error("recv"));
        }
    }
}

// A refusal's reason: the first line of the service's answer, when it gave a short one.
void add_refusal_reason(post_result& result, std::string_view body) {
    if (result.success || result.status == 0) {
        return;
    }
    std::string_view reason = body.substr(0, body.find('\n'));
    if (!reason.empty() && reason.back() == '\r') {
        reason.remove_suffix(1);
    }
    // A web server's page of its own (nginx's 405, say) is no reason in words.
    if (!reason.empty() && reason.size() <= 200 && reason.front() != '<') {
        result.reason = reason;
        // It reaches a terminal through kulimbara-post as it is: printable ASCII only there.
        if (std::ranges::all_of(reason, [](char c) { return c >= ' ' && c <= '~'; })) {
            result.detail += ": " + std::string(reason);
        }
    }
}

}  // namespace

std::optional<highscore_endpoint> parse_highscore_url(std::string_view url) {
    constexpr std::string_view scheme = "http://";
    if (url.substr(0, scheme.size()) != scheme) {
        return std::nullopt;
    }
    url.remove_prefix(scheme.size());
    if (!url.empty() && url.back() == '/') {
        url.remove_suffix(1);
    }
    highscore_endpoint endpoint;
    std::string_view port;
    bool has_port = false;
    if (!url.empty() && url.front() == '[') {
        const std::size_t close = url.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        endpoint.host = std::string(url.substr(1, close - 1));
        in6_addr address{};
        if (::inet_pton(AF_INET6, endpoint.host.c_str(), &address) != 1) {
            return std::nullopt;
        }
        const std::string_view rest = url.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            return std::nullopt;
        }
        has_port = !rest.empty();
        port = has_port ? rest.substr(1) : rest;
    } else {
        const std::size_t colon = url.find(':');
        endpoint.host = std::string(url.substr(0, colon));
        has_port = colon != std::string_view::npos;
        port = has_port ? url.substr(colon + 1) : std::string_view();
        const bool allowed = std::all_of(endpoint.host.begin(), endpoint.host.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '.' || c == '-' || c == '_';
        });
        if (endpoint.host.empty() || !allowed) {
            return std::nullopt;
        }
    }
    if (has_port) {
        const std::optional<long long> value = parse_decimal(port, 65535);
        if (!value || *value < 1) {
            return std::nullopt;
        }
        endpoint.port = static_cast<int>(*value);
    }
    return endpoint;
}

std::string board_address(const highscore_endpoint& endpoint) {
    return "http://" + host_header(endpoint);
}

configured_board configured_endpoint() {
    configured_board board;
    const char* url = std::getenv("KULIMBARA_HIGHSCORE_URL");
    const bool from_environment = url != nullptr && *url != '\0';
    const std::string built_in = KULIMBARA_HIGHSCORE_HOST;
    if (!from_environment && built_in.empty()) {
        return board;
    }
    const std::optional<highscore_endpoint> endpoint =
        parse_highscore_url(from_environment ? std::string(url) : "http://" + built_in);
    if (!endpoint) {
        board.what = configured_board::setting::malformed;
        board.problem = from_environment
                            ? "KULIMBARA_HIGHSCORE_URL is not of the form http://HOST[:PORT]"
                            : "the high-score host built in, '" + built_in +
                                  "', is not of the form HOST[:PORT]";
        return board;
    }
    board.what = configured_board::setting::set;
    board.endpoint = *endpoint;
    return board;
}

std::string post_failure_words(const post_result& result, std::chrono::milliseconds bound) {
    switch (result.failure) {
        case post_failure::none:
            return "";
        case post_failure::no_board:
            return "No high-score board is set up";
        case post_failure::bad_address:
            return "bad KULIMBARA_HIGHSCORE_URL";
        case post_failure::could_not_connect:
            return "could not connect";
        case post_failure::no_answer: {
            const long long seconds = (bound.count() + 999) / 1000;
            return "no answer in " + std::to_string(seconds) + " s";
        }
        case post_failure::refused: {
            // The board's words, as many as fit on the screen's line and in the font.
            constexpr std::size_t words_max = 48;
            std::string words = "refused: ";
            for (const char c : result.reason) {
                if (words.size() >= words_max) {
                    words += "...";
                    break;
                }
                words += c >= ' ' && c <= '~' ? c : '?';
            }
            if (result.reason.empty()) {
                words += std::to_string(result.status);
            }
            return words;
        }
        case post_failure::bad_answer:
            return "no answer that a board gives";
    }
    return "";
}

post_result send_data(const std::string& url, const highscore_endpoint& endpoint,
                      steady::time_point deadline) {
    std::string body;
    post_result result =
        exchange("GET /highscore.php?" + url + " HTTP/1.1\r\nHost: " + host_header(endpoint) +
                     "\r\nConnection: close\r\n\r\n",
                 endpoint, deadline, answer_body::refusal_only, body);
    add_refusal_reason(result, body);
    return result;
}

post_result send_replay(std::string_view replay_bytes, const highscore_endpoint& endpoint,
                        steady::time_point deadline) {
    std::string request = "POST /replays HTTP/1.1\r\nHost: " + host_header(endpoint) +
                          "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                          std::to_string(replay_bytes.size()) + "\r\nConnection: close\r\n\r\n";
    request += replay_bytes;
    std::string body;
    post_result result = exchange(request, endpoint, deadline, answer_body::always, body);
    if (result.success) {
        result.rank = rank_in(body);
    }
    add_refusal_reason(result, body);
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
    board_ = board_address(endpoint);
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

void score_post_worker::finish_at_once(post_result result) {
    state_ = std::make_shared<shared_state>();
    deadline_ = steady::now();
    board_.clear();
    state_->result = std::move(result);
}

void score_post_worker::start(std::string_view name, int score,
                              std::optional<std::string> replay_bytes) {
    const configured_board board = configured_endpoint();
    switch (board.what) {
        case configured_board::setting::set:
            start(name, score, board.endpoint, std::move(replay_bytes));
            break;
        case configured_board::setting::none:
            finish_at_once(failed(post_failure::no_board,
                                  "no high-score board is set up (KULIMBARA_HIGHSCORE_URL)"));
            break;
        case configured_board::setting::malformed:
            finish_at_once(failed(post_failure::bad_address, board.problem));
            break;
    }
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
        return failed(post_failure::no_answer,
                      "no result within " + std::to_string(bound_.count()) + " ms");
    }
    return std::nullopt;
}

post_result score_post_worker::wait() {
    if (!state_) {
        return failed(post_failure::could_not_connect, "no post started");
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
