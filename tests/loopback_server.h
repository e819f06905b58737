// A one-connection HTTP stand-in on 127.0.0.1 for testing the score post's client: it records
// the request head and answers with fixed bytes, or, given nullopt, reads on without answering
// until the client gives up.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <thread>

class loopback_server {
  public:
    explicit loopback_server(std::optional<std::string> answer) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, answer = std::move(answer)] {
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            char buffer[512];
            ssize_t n = 0;
            while ((!answer || request_.find("\r\n\r\n") == std::string::npos) &&
                   (n = ::recv(connection, buffer, sizeof buffer, 0)) > 0) {
                request_.append(buffer, static_cast<std::size_t>(n));
            }
            if (answer) {
                ::send(connection, answer->data(), answer->size(), MSG_NOSIGNAL);
            }
            ::close(connection);
        });
    }
    // Shutting the listener down ends an accept that no client answered.
    ~loopback_server() {
        ::shutdown(listener_, SHUT_RDWR);
        request();
        ::close(listener_);
    }

    int port() const { return port_; }
    // The request head as received, once the connection is over.
    const std::string& request() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return request_;
    }

  private:
    int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port_ = 0;
    std::string request_;
    std::thread thread_;
};
