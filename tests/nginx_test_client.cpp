// The pieces of tests/nginx_test.sh that curl and bash do not make well:
//   query NAME SCORE                 a valid post's query, as the game makes it
//   gzip-zeros BYTES                 a gzip stream of BYTES zero bytes on standard output
//   drip FROM TO PORT COUNT SECONDS  COUNT connections from FROM to TO:PORT (IPv4), held for
//                                    SECONDS, sending a header or a body a byte a second, or
//                                    nothing
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "protocol.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: nginx-test-client query NAME SCORE | gzip-zeros BYTES |"
                 " drip FROM TO PORT COUNT SECONDS\n");
    return 2;
}

// The check digits are followed by random hex characters; any fixed sequence is valid.
int print_query(const char* name, const char* score) {
    std::printf("%s\n", generate_params(name, std::atoi(score), [] { return 0; }).c_str());
    return 0;
}

// Run-length deflate finds the zeros' only match (258 bytes, distance 1) without searching,
// so a gigabyte takes about a second and comes out near deflate's best ratio of 1:1032.
int print_gzip_zeros(const char* bytes_text) {
    long long remaining = std::atoll(bytes_text);
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_RLE) != Z_OK) {
        std::fprintf(stderr, "nginx-test-client: deflateInit2 failed\n");
        return 1;
    }
    std::vector<unsigned char> zeros(1 << 20, 0), out(1 << 16);
    int flush = Z_NO_FLUSH;
    do {
        const auto chunk = static_cast<uInt>(std::min<long long>(remaining, zeros.size()));
        remaining -= chunk;
        flush = remaining == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = zeros.data();
        stream.avail_in = chunk;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            deflate(&stream, flush);
            const std::size_t produced = out.size() - stream.avail_out;
            if (std::fwrite(out.data(), 1, produced, stdout) != produced) {
                std::fprintf(stderr, "nginx-test-client: cannot write the gzip stream\n");
                deflateEnd(&stream);
                return 1;
            }
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&stream);
    return 0;
}

// A TCP connection from the IPv4 address FROM (any port) to TO:PORT; -1 when it fails.
int connect_to(const char* from, const char* to, int port) {
    sockaddr_in source{}, target{};
    source.sin_family = target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, from, &source.sin_addr) != 1 ||
        inet_pton(AF_INET, to, &target.sin_addr) != 1) {
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
                    connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Opens the connections, a third of each kind: one sends a request header a byte a second,
// one sends a whole header announcing a 1000-byte body and then the body a byte a second,
// one sends nothing. Prints how many opened, how many the server answered and how many it had
// closed by the end (a read of 0 bytes or a reset), so the test can tell who gave up.
int drip(const char* from, const char* to, int port, int count, int seconds) {
    static const std::string slow_header =
        "GET / HTTP/1.1\r\nHost: scores.example.org\r\nUser-Agent: drip\r\n\r\n";
    constexpr std::size_t body_bytes = 1000;
    static const std::string body_header =
        "GET / HTTP/1.1\r\nHost: scores.example.org\r\n"
        "Content-Length: " +
        std::to_string(body_bytes) + "\r\n\r\n";
    enum class kind { slow_header, slow_body, silent };
    struct held {
        int fd;
        kind what;
        std::size_t sent;
        bool answered;
        bool closed;
    };
    std::vector<held> connections;
    for (int i = 0; i < count; ++i) {
        const int fd = connect_to(from, to, port);
        if (fd < 0) {
            break;
        }
        const kind what = static_cast<kind>(i % 3);
        if (what == kind::slow_body) {
            send(fd, body_header.data(), body_header.size(), MSG_NOSIGNAL);
        }
        connections.push_back({fd, what, 0, false, false});
    }
    std::printf("opened %zu\n", connections.size());
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int tick = 0; std::chrono::steady_clock::now() < end && tick < seconds; ++tick) {
        for (held& c : connections) {
            if (c.closed) {
                continue;
            }
            char answer[4096];
            const ssize_t got = recv(c.fd, answer, sizeof answer, MSG_DONTWAIT);
            c.answered = c.answered || got > 0;
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                c.closed = true;
                continue;
            }
            const char next = c.what == kind::slow_header ? slow_header[c.sent] : 'a';
            const std::size_t total = c.what == kind::slow_header ? slow_header.size() : body_bytes;
            if (c.what != kind::silent && c.sent < total &&
                send(c.fd, &next, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) {
                ++c.sent;
            }
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::size_t answered = 0, closed = 0;
    for (const held& c : connections) {
        answered += c.answered ? 1 : 0;
        closed += c.closed ? 1 : 0;
        close(c.fd);
    }
    std::printf("answered %zu\nclosed by the server %zu\n", answered, closed);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "query" && argc == 4) {
        return print_query(argv[2], argv[3]);
    }
    if (mode == "gzip-zeros" && argc == 3) {
        return print_gzip_zeros(argv[2]);
    }
    if (mode == "drip" && argc == 7) {
        return drip(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    }
    return usage();
}
