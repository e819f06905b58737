// SPDX-License-Identifier: MIT
// The service's front door: one thread polls the listening socket and every connection until
// a request's whole head has arrived, and for the one request that carries a body (POST of a
// replay) the whole body too, so that a slow or idle client costs a file descriptor and a
// bounded buffer, never a worker. Complete requests go to a few worker threads. The front
// refuses, before anything else reads them, every other request that carries a body, any
// encoded body, other methods than GET and HEAD, and heads and bodies over their limits.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The one request target that takes a body, with POST: a replay file.
constexpr std::string_view upload_target = "/replays";

struct front_limits {
    // A request's head (request line and headers) in bytes, and its header lines.
    std::size_t head_max_bytes = 8192;
    std::size_t header_max_count = 64;
    // From a connection's opening, or the end of the answer before, to the end of the head.
    std::chrono::milliseconds head_timeout{5000};
    // For writing one answer.
    std::chrono::milliseconds write_timeout{5000};
    // Requests on one connection.
    std::size_t keep_alive_max_count = 100;
    // Connections open at once; a new one beyond that closes the oldest waiting for its head.
    std::size_t max_connections = 512;
    std::size_t workers = 8;
    // An upload's body: its bytes, and the time from the end of its head to its last byte.
    std::size_t body_max_bytes = 256 * 1024;
    std::chrono::milliseconds body_timeout{10000};
    // Bytes held for bodies across all connections, each counted by its Content-Length from
    // its head to the end of its answer; an upload beyond them is refused 503 from its head.
    // 128 whole replays: far below the service's memory cap however many clients upload.
    std::size_t bodies_max_bytes = std::size_t{32} << 20;
};

// The front's own verdict on a whole request head: status 0 to pass it on, otherwise the
// status and one line of reason to answer before closing the connection.
struct head_verdict {
    int status = 0;
    std::string reason;
    std::string method;
    std::string target;
    // The body to read before the request is passed on: its Content-Length, and whether the
    // client waits for "100 Continue" before it sends it.
    std::size_t body_bytes = 0;
    bool expect_continue = false;
};

// Checks a complete head, from the request line to the blank line that ends it.
head_verdict check_request_head(std::string_view head, const front_limits& limits);

class request_front {
  public:
    // Answers one request whose head (and body, if it has one) has arrived, on a worker: writes
    // the answer to `socket` and returns true when the connection may carry another request.
    // `last` asks for the connection to be closed after this answer.
    using answer_function =
        std::function<bool(int socket, std::string_view head, std::string_view body,
                           const std::string& peer, bool last)>;
    // Told of every request the front answers itself: the peer, status, method, target and
    // reason.
    using refusal_logger = std::function<void(const std::string& peer, const head_verdict&)>;

    request_front(const front_limits& limits, answer_function answer, refusal_logger log);
    ~request_front();
    request_front(const request_front&) = delete;
    request_front& operator=(const request_front&) = delete;

    // Serves connections from the listening socket until stop(); false when polling failed.
    bool serve(int listening_socket);
    // Ends serve() from any thread; also before it has started.
    void stop();
    // True while serve() accepts connections.
    bool is_running() const;
    // True once stop() was called.
    bool is_stopping() const;

  private:
    struct impl;
    std::unique_ptr<impl> impl_;
};
