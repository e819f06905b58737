// A one-connection HTTP stand-in on 127.0.0.1 for testing the score post's client: it takes
// one request, records it, and answers with fixed bytes, or holds the connection silent until
// it is destroyed.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

class loopback_server {
  public:
    // `answer` is sent once the request's head has arrived; nullopt keeps silent.
    explicit loopback_server(std::optional<std::string> answer) : answer_(std::move(answer)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    loopback_server(const loopback_server&) = delete;
    loopback_server& operator=(const loopback_server&) = delete;
    ~loopback_server() {
        done_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (listener_ >= 0) {
            ::close(listener_);
        }
    }

    int port() const { return port_; }
    // The request head as received; ends the connection first.
    std::string request() {
        done_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return request_;
    }

  private:
    // Waits for `fd` to become readable, giving up when the server is destroyed or after a
    // bound that no test reaches.
    bool readable(int fd) {
        for (int waited_ms = 0; !done_ && waited_ms < 20000; waited_ms += 10) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                return true;
            }
        }
        return false;
    }

    void serve() {
        if (!readable(listener_)) {
            return;
        }
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            return;
        }
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 4096 &&
               readable(connection)) {
            char buffer[512];
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            head.append(buffer, static_cast<std::size_t>(n));
        }
        request_ = head;
        if (answer_) {
            ::send(connection, answer_->data(), answer_->size(), MSG_NOSIGNAL);
        } else {
            while (!done_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        ::close(connection);
    }

    std::optional<std::string> answer_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> done_{false};
    std::string request_;
    std::thread thread_;
};

// A loopback port on which nothing listens: bound once, then released.
inline int closed_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}
