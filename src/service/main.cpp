// SPDX-License-Identifier: MIT
// kulimbara-highscore: the high-score service. Serves until SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "highscore_service.h"
#include "option_parser.h"
#include "post_limiter.h"
#include "protocol.h"

namespace {

const option_parser parser(
    "kulimbara-highscore",
    "usage: kulimbara-highscore [--listen ADDR:PORT] [--db FILE] [--max-score N]\n"
    "                           [--trusted-proxy ADDR]... [--keep-addresses-days N]\n"
    "                           [--require-replay]\n"
    "       kulimbara-highscore --help | --version\n",
    "The high-score service of Kulimbara: takes score posts and replays over HTTP, checks and\n"
    "keeps them in an SQLite database, and serves the best as a page and as JSON. Serves until\n"
    "SIGTERM or SIGINT; meant to run behind a reverse proxy.\n"
    "\n"
    "  --listen ADDR:PORT       the address to listen on (default 127.0.0.1:8080; an IPv6\n"
    "                           address in brackets; port 0 picks a free one)\n"
    "  --db FILE                the SQLite database (default highscores.sqlite)\n"
    "  --max-score N            the highest score accepted (default 100000)\n"
    "  --trusted-proxy ADDR     a proxy whose X-Real-IP names the client; repeatable\n"
    "  --keep-addresses-days N  the days a score keeps its client's address (default 30)\n"
    "  --require-replay         rank only scores that a replay proved\n"
    "  -h, --help               print this help and exit\n"
    "  --version                print the version and exit\n");

struct listen_address {
    std::string host;
    int port = 0;
};

// "ADDR:PORT", an IPv6 address in brackets ("[::1]:8080").
std::optional<listen_address> parse_listen(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    std::string_view host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') {
            return std::nullopt;
        }
        host = host.substr(1, host.size() - 2);
    }
    const std::optional<long long> port = parse_decimal(text.substr(colon + 1), 65535);
    if (!port) {
        return std::nullopt;
    }
    return listen_address{std::string(host), static_cast<int>(*port)};
}

}  // namespace

int main(int argc, char** argv) {
    listen_address address{"127.0.0.1", 8080};
    service_config config;
    config.homepage = KULIMBARA_HOMEPAGE;
    parser.parse(argc, argv,
                 {{"--listen", true,
                   [&](const std::string& text) -> std::string {
                       const std::optional<listen_address> parsed = parse_listen(text);
                       if (!parsed) {
                           return "--listen takes ADDR:PORT, not '" + text + "'";
                       }
                       address = *parsed;
                       return "";
                   }},
                  {"--db", true,
                   [&](const std::string& text) -> std::string {
                       config.db_path = text;
                       return text.empty() ? "--db needs a file name" : "";
                   }},
                  {"--max-score", true,
                   [&](const std::string& text) -> std::string {
                       const std::optional<long long> max_score = parse_decimal(text, 2147483647);
                       if (!max_score) {
                           return "--max-score takes a whole number from 0, not '" + text + "'";
                       }
                       config.max_score = static_cast<int>(*max_score);
                       return "";
                   }},
                  {"--trusted-proxy", true,
                   [&](const std::string& text) -> std::string {
                       if (!canonical_address(text)) {
                           return "--trusted-proxy takes an IP address, not '" + text + "'";
                       }
                       config.trusted_proxies.push_back(text);
                       return "";
                   }},
                  {"--keep-addresses-days", true,
                   [&](const std::string& text) -> std::string {
                       const std::optional<long long> days = parse_decimal(text, 36500);
                       if (!days) {
                           return "--keep-addresses-days takes a whole number of days from 0 to "
                                  "36500, not '" +
                                  text + "'";
                       }
                       config.keep_addresses_days = static_cast<int>(*days);
                       return "";
                   }},
                  {"--require-replay", false, [&](const std::string&) -> std::string {
                       config.require_replay = true;
                       return "";
                   }}});

    // The signals are taken by one thread that stops the server; every other thread,
    // the server's included, inherits the block.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::optional<highscore_service> service;
    try {
        service.emplace(config);
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "kulimbara-highscore: %s\n", e.what());
        return EXIT_FAILURE;
    }
    const int port = service->bind(address.host, address.port);
    if (port < 0) {
        std::fprintf(stderr, "kulimbara-highscore: cannot listen on %s:%d\n", address.host.c_str(),
                     address.port);
        return EXIT_FAILURE;
    }
    std::fprintf(stderr, "kulimbara-highscore: listening on %s:%d, database %s%s\n",
                 address.host.c_str(), port, config.db_path.c_str(),
                 config.require_replay ? ", replays required" : "");

    std::thread signal_waiter([&] {
        int signal = 0;
        sigwait(&stop_signals, &signal);
        if (signal != 0) {
            std::fprintf(stderr, "kulimbara-highscore: stopping on signal %d\n", signal);
        }
        service->stop();
    });
    const bool served = service->listen();
    // Wakes the waiter when the server ended by itself.
    pthread_kill(signal_waiter.native_handle(), SIGTERM);
    signal_waiter.join();
    if (!served) {
        std::fprintf(stderr, "kulimbara-highscore: serving failed\n");
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
