// SPDX-License-Identifier: MIT
#include "request_front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "post_limiter.h"
#include "protocol.h"

namespace {

using steady = std::chrono::steady_clock;

// A refused connection is read and its bytes dropped for a while before it is closed: closing
// with unread bytes would reset the connection, and the client could lose the answer.
constexpr std::size_t drain_max_bytes = std::size_t{1} << 20;
constexpr std::chrono::seconds drain_time{1};
// Connections taken from the listening socket per wake-up, so that open ones are read too.
constexpr int accepts_per_wake = 64;

struct connection {
    int fd = -1;
    std::string peer;
    // Bytes read and not yet part of a request passed on: a partial head, or a pipelined one.
    std::string buffer;
    steady::time_point deadline;
    std::size_t requests = 0;
    bool draining = false;
    std::size_t drained = 0;
    // An upload under way: its head, the body so far and the length it announced, which is
    // counted against the bound on all bodies until the answer is written.
    bool reading_body = false;
    std::string head;
    std::string body;
    std::size_t body_expected = 0;
    std::size_t reserved = 0;
};

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

std::string_view trim_whitespace(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

struct status_name {
    int status;
    const char* text;
};
constexpr status_name status_names[] = {
    {400, "Bad Request"},         {405, "Method Not Allowed"},
    {408, "Request Timeout"},     {411, "Length Required"},
    {413, "Payload Too Large"},   {415, "Unsupported Media Type"},
    {417, "Expectation Failed"},  {431, "Request Header Fields Too Large"},
    {503, "Service Unavailable"},
};

const char* status_text(int status) {
    for (const status_name& name : status_names) {
        if (name.status == status) {
            return name.text;
        }
    }
    return "Error";
}

std::string peer_address(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text,
                  sizeof text);
    } else if (address.ss_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text,
                  sizeof text);
    }
    return canonical_address(text).value_or("-");
}

// The head without its Expect lines: the front answers the expectation itself, before the
// body, so the library that reads the whole request must not answer it again.
std::string without_expect(std::string_view head) {
    std::string out;
    while (!head.empty()) {
        const std::size_t end = head.find("\r\n");
        const std::string_view line = head.substr(0, end == std::string_view::npos ? end : end + 2);
        head.remove_prefix(line.size());
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos ||
            !equals_ignoring_case(line.substr(0, colon), "Expect")) {
            out += line;
        }
    }
    return out;
}

}  // namespace

// The head's lines are read whole before any verdict, so that one about the body never
// depends on the order of its headers. An upload (POST of upload_target) must announce its
// length once, in decimal, within the bound, and may ask for "100 Continue"; every other
// request may announce no body but an empty one.
head_verdict check_request_head(std::string_view head, const front_limits& limits) {
    head_verdict verdict;
    const std::size_t line_end = head.find("\r\n");
    const std::string_view request_line = head.substr(0, line_end);
    const std::size_t method_end = request_line.find(' ');
    const std::size_t target_end = method_end == std::string_view::npos
                                       ? std::string_view::npos
                                       : request_line.find(' ', method_end + 1);
    if (target_end == std::string_view::npos) {
        verdict.status = 400;
        verdict.reason = "malformed request line";
        return verdict;
    }
    verdict.method = request_line.substr(0, method_end);
    verdict.target = request_line.substr(method_end + 1, target_end - method_end - 1);
    const bool upload = verdict.method == "POST" && verdict.target == upload_target;
    const bool http11 = request_line.substr(target_end + 1) == "HTTP/1.1";
    std::string_view rest = line_end == std::string_view::npos ? "" : head.substr(line_end + 2);
    std::size_t count = 0;
    std::size_t lengths = 0;
    std::string_view length;
    bool encoded = false;
    bool transfer_encoded = false;
    bool multipart = false;
    std::optional<std::string_view> expect;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? "" : rest.substr(end + 2);
        if (line.empty()) {
            break;
        }
        if (++count > limits.header_max_count) {
            verdict.status = 431;
            verdict.reason = "over " + std::to_string(limits.header_max_count) + " header lines";
            return verdict;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            verdict.status = 400;
            verdict.reason = "malformed header line";
            return verdict;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trim_whitespace(line.substr(colon + 1));
        if (equals_ignoring_case(name, "Content-Encoding")) {
            encoded = true;
        } else if (equals_ignoring_case(name, "Transfer-Encoding")) {
            transfer_encoded = true;
        } else if (equals_ignoring_case(name, "Content-Length")) {
            lengths += 1;
            length = value;
        } else if (equals_ignoring_case(name, "Expect")) {
            expect = value;
        } else if (equals_ignoring_case(name, "Content-Type")) {
            multipart = equals_ignoring_case(value.substr(0, 10), "multipart/");
        }
    }
    const auto refuse = [&](int status, std::string reason) {
        verdict.status = status;
        verdict.reason = std::move(reason);
        return verdict;
    };
    if (encoded) {
        return refuse(415, upload ? "a replay is sent as it is, without Content-Encoding"
                                  : "no request body is accepted, encoded or not");
    }
    if (!upload) {
        if (transfer_encoded || (lengths > 0 && length != "0")) {
            return refuse(413, "no request body is accepted");
        }
        if (verdict.method != "GET" && verdict.method != "HEAD") {
            return refuse(
                405, "only GET and HEAD are answered, and POST of " + std::string(upload_target));
        }
        return verdict;
    }
    if (transfer_encoded) {
        return refuse(411, "a replay is sent with a Content-Length, not chunked");
    }
    // The HTTP library would parse a multipart body into parts before the service saw it.
    if (multipart) {
        return refuse(415, "a replay is sent as application/octet-stream");
    }
    if (lengths == 0) {
        return refuse(411, "a replay is sent with a Content-Length");
    }
    const bool decimal = !length.empty() && std::all_of(length.begin(), length.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
    if (lengths > 1 || !decimal) {
        return refuse(400, "malformed Content-Length");
    }
    const std::size_t digits = length.find_first_not_of('0');
    const std::optional<long long> bytes =
        digits == std::string_view::npos ? 0 : parse_decimal(length.substr(digits), 9999999999);
    if (!bytes || static_cast<unsigned long long>(*bytes) > limits.body_max_bytes) {
        return refuse(
            413, "a replay is at most " + std::to_string(limits.body_max_bytes / 1024) + " KiB");
    }
    if (expect) {
        if (!equals_ignoring_case(*expect, "100-continue")) {
            return refuse(417, "only 100-continue is expected");
        }
        verdict.expect_continue = http11;
    }
    verdict.body_bytes = static_cast<std::size_t>(*bytes);
    return verdict;
}

struct request_front::impl {
    struct job {
        connection client;
        std::string head;
        std::string body;
        bool last = false;
    };

    impl(const front_limits& limits, answer_function answer, refusal_logger log)
        : limits(limits), answer(std::move(answer)), log(std::move(log)) {
        wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    ~impl() {
        if (wake_fd >= 0) {
            ::close(wake_fd);
        }
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_fd, &one, sizeof one);
    }

    // Counts `bytes` against the bound on all bodies; false, counting nothing, beyond it.
    bool reserve(std::size_t bytes) {
        std::size_t held = bodies_held.load();
        do {
            if (held + bytes > limits.bodies_max_bytes) {
                return false;
            }
        } while (!bodies_held.compare_exchange_weak(held, held + bytes));
        return true;
    }

    // Drops the connection's body and what it counted against the bound.
    void release_body(connection& client) {
        std::string().swap(client.body);
        client.head.clear();
        client.reading_body = false;
        bodies_held -= client.reserved;
        client.reserved = 0;
    }

    void close_connection(connection& client) {
        ::close(client.fd);
        release_body(client);
    }

    void work() {
        for (;;) {
            job next;
            {
                std::unique_lock lock(jobs_mutex);
                jobs_ready.wait(lock, [&] { return !jobs.empty() || jobs_closed; });
                if (jobs.empty()) {
                    return;
                }
                next = std::move(jobs.front());
                jobs.pop_front();
            }
            const bool keep =
                answer(next.client.fd, next.head, next.body, next.client.peer, next.last);
            std::string().swap(next.body);
            release_body(next.client);
            if (keep && !stopping) {
                next.client.requests += 1;
                next.client.deadline = steady::now() + limits.head_timeout;
                const std::lock_guard lock(returned_mutex);
                returned.push_back(std::move(next.client));
            } else {
                ::close(next.client.fd);
            }
            at_workers -= 1;
            wake();
        }
    }

    // Answers the request itself and drains the connection before closing it.
    void refuse(connection& client, const head_verdict& verdict) {
        const std::string line = verdict.reason + "\n";
        const char* extra = "";
        if (verdict.status == 405) {
            extra = verdict.target == upload_target ? "Allow: POST\r\n" : "Allow: GET, HEAD\r\n";
        } else if (verdict.status == 503) {
            extra = "Retry-After: 10\r\n";
        }
        char head[256];
        std::snprintf(head, sizeof head,
                      "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\n"
                      "Content-Length: %zu\r\n%sConnection: close\r\n\r\n",
                      verdict.status, status_text(verdict.status), line.size(), extra);
        // A fresh socket's send buffer takes these few hundred bytes whole.
        const std::string answer_text = head + line;
        [[maybe_unused]] const ssize_t sent =
            ::send(client.fd, answer_text.data(), answer_text.size(), MSG_NOSIGNAL);
        ::shutdown(client.fd, SHUT_WR);
        log(client.peer, verdict);
        client.buffer.clear();
        client.buffer.shrink_to_fit();
        release_body(client);
        client.draining = true;
        client.deadline = steady::now() + drain_time;
    }

    // Hands the request to the workers; the connection leaves the loop.
    void pass_on(connection& client, std::string head, std::string body) {
        job next{std::move(client), std::move(head), std::move(body), false};
        next.last = next.client.requests + 1 >= limits.keep_alive_max_count;
        at_workers += 1;
        {
            const std::lock_guard lock(jobs_mutex);
            jobs.push_back(std::move(next));
        }
        jobs_ready.notify_one();
    }

    // Starts reading an upload's body after its head: takes what of it came with the head,
    // or refuses it when the bound on all bodies would be passed.
    void start_body(connection& client, const head_verdict& verdict, std::size_t head_size) {
        if (!reserve(verdict.body_bytes)) {
            refuse(client, {503, "too many uploads under way, try again in a minute", "POST",
                            verdict.target});
            return;
        }
        client.reserved = verdict.body_bytes;
        client.reading_body = true;
        client.head = without_expect(std::string_view(client.buffer).substr(0, head_size));
        client.body_expected = verdict.body_bytes;
        client.body.reserve(verdict.body_bytes);
        const std::size_t arrived = std::min(client.buffer.size() - head_size, verdict.body_bytes);
        client.body.assign(client.buffer, head_size, arrived);
        client.buffer.erase(0, head_size + arrived);
        client.deadline = steady::now() + limits.body_timeout;
        if (verdict.expect_continue && arrived < verdict.body_bytes) {
            constexpr std::string_view go_on = "HTTP/1.1 100 Continue\r\n\r\n";
            [[maybe_unused]] const ssize_t sent =
                ::send(client.fd, go_on.data(), go_on.size(), MSG_NOSIGNAL);
        }
    }

    // Passes on or refuses the request at the front of the buffer, if it is all there; false
    // when the connection left the loop.
    bool advance(connection& client) {
        if (client.draining) {
            return true;
        }
        if (client.reading_body) {
            if (client.body.size() < client.body_expected) {
                return true;
            }
            pass_on(client, std::move(client.head), std::move(client.body));
            return false;
        }
        const std::size_t end = client.buffer.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (client.buffer.size() > limits.head_max_bytes) {
                refuse(
                    client,
                    {431, "request head over " + std::to_string(limits.head_max_bytes) + " bytes",
                     "-", "-"});
            }
            return true;
        }
        const std::size_t head_size = end + 4;
        if (head_size > limits.head_max_bytes) {
            refuse(client,
                   {431, "request head over " + std::to_string(limits.head_max_bytes) + " bytes",
                    "-", "-"});
            return true;
        }
        const head_verdict verdict =
            check_request_head(std::string_view(client.buffer).substr(0, head_size), limits);
        if (verdict.status != 0) {
            refuse(client, verdict);
            return true;
        }
        if (verdict.body_bytes > 0) {
            start_body(client, verdict, head_size);
            return advance(client);
        }
        std::string head = client.buffer.substr(0, head_size);
        client.buffer.erase(0, head_size);
        pass_on(client, std::move(head), {});
        return false;
    }

    // Reads what arrived; false when the connection was closed. A body is read up to its
    // announced length and no further: what follows it waits in the socket.
    bool read_from(connection& client) {
        char chunk[4096];
        for (;;) {
            std::size_t wanted = sizeof chunk;
            if (client.reading_body) {
                wanted = std::min(wanted, client.body_expected - client.body.size());
                if (wanted == 0) {
                    return advance(client);
                }
            }
            const ssize_t got = ::recv(client.fd, chunk, wanted, 0);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return advance(client);
            }
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                close_connection(client);
                return false;
            }
            if (client.draining) {
                client.drained += static_cast<std::size_t>(got);
                if (client.drained > drain_max_bytes) {
                    close_connection(client);
                    return false;
                }
                continue;
            }
            if (client.reading_body) {
                client.body.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            client.buffer.append(chunk, static_cast<std::size_t>(got));
            // Heads are small: past the limit the rest is not worth reading.
            if (client.buffer.size() > limits.head_max_bytes) {
                return advance(client);
            }
        }
    }

    void accept_from(int listening_socket, std::vector<connection>& open) {
        for (int n = 0; n < accepts_per_wake; ++n) {
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            const int fd = ::accept4(listening_socket, reinterpret_cast<sockaddr*>(&address),
                                     &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                return;
            }
            if (open.size() + at_workers >= limits.max_connections && !open.empty()) {
                const auto oldest = std::min_element(
                    open.begin(), open.end(),
                    [](const auto& a, const auto& b) { return a.deadline < b.deadline; });
                close_connection(*oldest);
                open.erase(oldest);
            }
            connection client;
            client.fd = fd;
            client.peer = peer_address(address);
            client.deadline = steady::now() + limits.head_timeout;
            open.push_back(std::move(client));
        }
    }

    // Closes the connections past their deadline; a partial head or body is answered 408 first.
    void expire(std::vector<connection>& open) {
        const steady::time_point now = steady::now();
        std::erase_if(open, [&](connection& client) {
            if (client.deadline > now) {
                return false;
            }
            if (client.reading_body) {
                refuse(client, {408, "request body not complete in time", "POST",
                                std::string(upload_target)});
            } else if (!client.draining && !client.buffer.empty()) {
                refuse(client, {408, "request head not complete in time", "-", "-"});
            }
            close_connection(client);
            return true;
        });
    }

    bool serve(int listening_socket) {
        const int flags = ::fcntl(listening_socket, F_GETFL);
        if (wake_fd < 0 || flags < 0 ||
            ::fcntl(listening_socket, F_SETFL, flags | O_NONBLOCK) != 0) {
            return false;
        }
        for (std::size_t i = 0; i < limits.workers; ++i) {
            workers.emplace_back([this] { work(); });
        }
        running = true;
        std::vector<connection> open;
        std::vector<pollfd> polled;
        bool polled_well = true;
        while (!stopping) {
            {
                std::vector<connection> back;
                {
                    const std::lock_guard lock(returned_mutex);
                    back.swap(returned);
                }
                for (connection& client : back) {
                    // A pipelined head may be there already.
                    if (advance(client)) {
                        open.push_back(std::move(client));
                    }
                }
            }
            polled.assign({{wake_fd, POLLIN, 0}, {listening_socket, POLLIN, 0}});
            steady::time_point next_deadline = steady::time_point::max();
            for (const connection& client : open) {
                polled.push_back({client.fd, POLLIN, 0});
                next_deadline = std::min(next_deadline, client.deadline);
            }
            int timeout_ms = -1;
            if (next_deadline != steady::time_point::max()) {
                const auto wait =
                    std::chrono::ceil<std::chrono::milliseconds>(next_deadline - steady::now());
                timeout_ms = static_cast<int>(std::max<long long>(0, wait.count()));
            }
            if (::poll(polled.data(), polled.size(), timeout_ms) < 0 && errno != EINTR) {
                polled_well = false;
                break;
            }
            if ((polled[0].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t got = ::read(wake_fd, &count, sizeof count);
            }
            // The polled connections are open's first entries, in order; accepting appends.
            std::vector<connection> still_open;
            still_open.reserve(open.size());
            for (std::size_t i = 0; i < open.size(); ++i) {
                const short events = i + 2 < polled.size() ? polled[i + 2].revents : 0;
                if (events == 0 || read_from(open[i])) {
                    still_open.push_back(std::move(open[i]));
                }
            }
            open.swap(still_open);
            if ((polled[1].revents & POLLIN) != 0) {
                accept_from(listening_socket, open);
            }
            expire(open);
        }
        for (connection& client : open) {
            close_connection(client);
        }
        {
            const std::lock_guard lock(jobs_mutex);
            jobs_closed = true;
        }
        jobs_ready.notify_all();
        for (std::thread& worker : workers) {
            worker.join();
        }
        workers.clear();
        for (const connection& client : returned) {
            ::close(client.fd);
        }
        returned.clear();
        running = false;
        return polled_well;
    }

    front_limits limits;
    answer_function answer;
    refusal_logger log;
    int wake_fd = -1;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    std::atomic<std::size_t> at_workers{0};
    std::atomic<std::size_t> bodies_held{0};
    std::vector<std::thread> workers;
    std::mutex jobs_mutex;
    std::condition_variable jobs_ready;
    std::deque<job> jobs;
    bool jobs_closed = false;
    std::mutex returned_mutex;
    std::vector<connection> returned;
};

request_front::request_front(const front_limits& limits, answer_function answer, refusal_logger log)
    : impl_(std::make_unique<impl>(limits, std::move(answer), std::move(log))) {}

request_front::~request_front() = default;

bool request_front::serve(int listening_socket) {
    if (impl_->stopping) {
        return true;
    }
    return impl_->serve(listening_socket);
}

void request_front::stop() {
    impl_->stopping = true;
    impl_->wake();
}

bool request_front::is_running() const {
    return impl_->running;
}

bool request_front::is_stopping() const {
    return impl_->stopping;
}
