// The service's front door: one thread polls the listening socket and every connection until
// a request's whole head has arrived, so that a slow or idle client costs a file descriptor
// and a small buffer, never a worker. Complete heads go to a few worker threads. The front
// refuses, before anything else reads them, requests that carry a body or an encoding, other
// methods than GET and HEAD, and heads over their limits.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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
};

// The front's own verdict on a whole request head: status 0 to pass it on, otherwise the
// status and one line of reason to answer before closing the connection.
struct head_verdict {
    int status = 0;
    std::string reason;
    std::string method;
    std::string target;
};

// Checks a complete head, from the request line to the blank line that ends it.
head_verdict check_request_head(std::string_view head, const front_limits& limits);

class request_front {
  public:
    // Answers one request whose head has arrived, on a worker: writes the answer to `socket`
    // and returns true when the connection may carry another request. `last` asks for the
    // connection to be closed after this answer.
    using answer_function =
        std::function<bool(int socket, std::string_view head, const std::string& peer, bool last)>;
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
