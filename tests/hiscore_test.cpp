// SPDX-License-Identifier: MIT
#include "client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "protocol.h"
#include "random.h"

namespace {

using namespace std::chrono_literals;

// An HTTP stand-in on loopback: one connection per answer given, each request read whole (its
// head and a Content-Length body) before the answer; without answers it never accepts.
class loopback_server {
  public:
    explicit loopback_server(std::vector<std::string> answers = {}, int family = AF_INET)
        : listener_(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_storage address{};
        socklen_t length = 0;
        if (family == AF_INET6) {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
            v6.sin6_family = AF_INET6;
            v6.sin6_addr = in6addr_loopback;
            length = sizeof v6;
        } else {
            auto& v4 = reinterpret_cast<sockaddr_in&>(address);
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof v4;
        }
        listening_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                     ::listen(listener_, 1) == 0;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                         : reinterpret_cast<sockaddr_in&>(address).sin_port);
        thread_ = std::thread([this, answers = std::move(answers)] {
            for (const std::string& answer : answers) {
                const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (connection < 0) {
                    return;
                }
                std::string request;
                char buffer[512];
                ssize_t n = 0;
                while (!whole(request) && (n = ::recv(connection, buffer, sizeof buffer, 0)) > 0) {
                    request.append(buffer, static_cast<std::size_t>(n));
                }
                requests_.push_back(std::move(request));
                ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
                ::close(connection);
            }
        });
    }
    ~loopback_server() {
        ::shutdown(listener_, SHUT_RDWR);  // ends an accept that no client made
        requests();
        ::close(listener_);
    }

    int port() const { return port_; }
    bool listening() const { return listening_; }
    const std::vector<std::string>& requests() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return requests_;
    }
    std::string request() { return requests().empty() ? "" : requests().front(); }

  private:
    static bool whole(const std::string& request) {
        const std::size_t head_end = request.find("\r\n\r\n");
        if (head_end == std::string::npos) {
            return false;
        }
        const std::size_t length = request.find("Content-Length: ");
        const std::size_t body = length < head_end ? std::stoul(request.substr(length + 16)) : 0;
        return request.size() >= head_end + 4 + body;
    }

    int listener_;
    bool listening_ = false;
    int port_ = 0;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// The pinned digits hold the key material that deployed services share. In the query every
// check digit is followed by one hexadecimal character from the game's generator.
TEST(CheckValue, MatchesTheCatalogueAndThePinnedDigitsAndQueries) {
    EXPECT_EQ(crc32_bzip2("123456789"), 0xFC891918u);
    EXPECT_EQ(check_code("", 7), 0u);  // no message, no check
    EXPECT_EQ(check_code("120ab cd4294967175", 120), 3913500777u);
    EXPECT_EQ(check_digits("ab cd", 120), "3913500777");
    EXPECT_EQ(check_digits("zero", 0), "3730232300");
    seed_random(7);
    EXPECT_EQ(generate_params("ab cd", 120, next_random),
              "name=ab%20cd&score=120&check=3c9e14325305027e7171");
    EXPECT_EQ(generate_params("   ", 5, next_random),
              "name=%20%20%20&score=5&check=8d531e424d223916");
    // One draw per digit, in order, reduced modulo 16.
    auto counting = [draws = 0]() mutable { return 17 * draws++; };
    EXPECT_EQ(generate_params("ab cd", 120, counting),
              "name=ab%20cd&score=120&check=30911233540506777879");
}

TEST(PlayerName, OneToSixteenOfLowerCaseDigitsSpaceAndUnderscoreAndALetterOrDigitToPost) {
    // The neighbours of every allowed range, and bytes that a signed char makes negative.
    for (const char c : std::string_view("`{/:^A\t-%\xe9\0", 11)) {
        EXPECT_FALSE(is_name_character(c)) << static_cast<int>(c);
    }
    const struct {
        std::string_view name;
        bool valid, postable;
    } names[] = {{"ada", true, true},
                 {"two words", true, true},
                 {"best_of_the_best", true, true},
                 {"  7  ", true, true},
                 {"_z_", true, true},
                 {"09", true, true},
                 {"   ", true, false},
                 {"___", true, false},
                 {"", false, false},
                 {"best_of_the_best!", false, false},
                 {"aaaaaaaaaaaaaaaaa", false, false},
                 {"Ada", false, false},
                 {"ada%20b", false, false},
                 {std::string_view("a\0b", 3), false, false}};
    for (const auto& [name, valid, postable] : names) {
        EXPECT_EQ(std::pair(is_valid_player_name(name), is_postable_name(name)),
                  std::pair(valid, postable))
            << '\'' << name << '\'';
    }
    // Letters are the name's letters, a-z.
    EXPECT_TRUE(has_letter_or_digit("Z9"));
    EXPECT_FALSE(has_letter_or_digit("Z"));
    EXPECT_EQ(trim_name("  two words "), "two words");
    EXPECT_EQ(trim_name(" _ "), "_");
    EXPECT_EQ(trim_name("    "), "");
}

TEST(Endpoint, UrlGivesHostAndPortOrNothing) {
    const std::pair<const char*, const char*> rows[] = {
        {"http://scores.example.org:8080", "scores.example.org:8080"},
        {"http://scores.example.org/", "scores.example.org:80"},
        {"http://127.0.0.1:9", "127.0.0.1:9"},
        {"http://h:1", "h:1"},
        {"http://h:65535", "h:65535"},
        {"http://[::1]:8080", "::1:8080"},
        {"http://[::1]", "::1:80"},
        {"http://[2001:db8::7]/", "2001:db8::7:80"},
        {"http://[::ffff:127.0.0.1]:81", "::ffff:127.0.0.1:81"},
        // No scheme, another scheme, or junk.
        {"127.0.0.1:9", ""},
        {"scores.example.org", ""},
        {"[::1]:8080", ""},
        {"https://scores.example.org", ""},
        {"HTTP://h", ""},
        {"", ""},
        {"http://", ""},
        {"http://:80", ""},
        {"http://h:", ""},
        {"http://h:0", ""},
        {"http://h:65536", ""},
        {"http://h:80x", ""},
        {"http://h:-1", ""},
        {"http://h:1:2", ""},
        {"http://h/board", ""},
        {"http://user@h", ""},
        {"http://h h", ""},
        {"http://::1:8080", ""},
        {"http://[::1", ""},
        {"http://[::1]8080", ""},
        {"http://[]:80", ""},
        {"http://[not:an:address]", ""},
        {"http://[127.0.0.1]", ""},
        {"http://[::1]:80/x", ""}};
    for (const auto& [url, host_and_port] : rows) {
        const std::optional<highscore_endpoint> endpoint = parse_highscore_url(url);
        EXPECT_EQ(endpoint ? endpoint->host + ":" + std::to_string(endpoint->port) : "",
                  host_and_port)
            << url;
    }
    // The address shown for a board brackets an IPv6 host and leaves out port 80.
    EXPECT_EQ(board_address({"::1", 8080}), "http://[::1]:8080");
    EXPECT_EQ(board_address({"scores.example.org", 80}), "http://scores.example.org");

    // The game posts where the variable says; a malformed one fails the post at once.
    ::setenv("KULIMBARA_HIGHSCORE_URL", "scores.example.org", 1);
    score_post_worker worker(next_random);
    worker.start("ada", 1);
    const post_result result = worker.wait();
    EXPECT_NE(result.detail.find("KULIMBARA_HIGHSCORE_URL"), std::string::npos);
    EXPECT_EQ(result.failure, post_failure::bad_address);
    EXPECT_EQ(worker.board(), "");
    ::unsetenv("KULIMBARA_HIGHSCORE_URL");
}

// A build that names no board posts nowhere, and says so, until the variable names one.
TEST(Endpoint, WithoutABoardNothingIsPosted) {
    ::unsetenv("KULIMBARA_HIGHSCORE_URL");
    if (configured_endpoint().what == configured_board::setting::set) {
        GTEST_SKIP() << "this build names a board";
    }
    EXPECT_EQ(configured_endpoint().what, configured_board::setting::none);
    score_post_worker worker(next_random);
    worker.start("ada", 1);
    const post_result result = worker.wait();
    EXPECT_EQ(result.failure, post_failure::no_board);
    EXPECT_EQ(post_failure_words(result, post_time_bound), "No high-score board is set up");
    ::setenv("KULIMBARA_HIGHSCORE_URL", "http://[::1]:8080", 1);
    const configured_board board = configured_endpoint();
    EXPECT_EQ(std::tuple(board.what, board.endpoint.host, board.endpoint.port),
              std::tuple(configured_board::setting::set, "::1", 8080));
    ::unsetenv("KULIMBARA_HIGHSCORE_URL");
}

post_result post_to(const highscore_endpoint& endpoint, std::chrono::milliseconds bound = 5s) {
    return send_data("name=ada&score=1&check=1a", endpoint,
                     std::chrono::steady_clock::now() + bound);
}

// Only a 2xx status line is success; the first answer also shows the request's exact bytes.
TEST(Client, SendsOneRequestAndOnlyATwoHundredAnswerIsSuccess) {
    const std::pair<const char*, bool> rows[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true},
        {"HTTP/1.0 204 No Content\n\n", true},
        {"HTTP/1.1 400 Bad Request\r\n\r\nwrong check value\n", false},
        {"HTTP/1.1 2000 OK\r\n\r\n", false},
        {"<html>200 OK</html>\r\n", false},
        {"", false}};  // the last closes without an answer
    for (const auto& [answer, success] : rows) {
        loopback_server server(std::vector<std::string>{answer});
        const post_result result = post_to({"127.0.0.1", server.port()});
        EXPECT_EQ(result.success, success) << answer << " gave " << result.detail;
        if (answer == rows[0].first) {
            EXPECT_EQ(result.detail, "HTTP/1.1 200 OK");
            EXPECT_EQ(server.request(),
                      "GET /highscore.php?name=ada&score=1&check=1a HTTP/1.1\r\n"
                      "Host: 127.0.0.1:" +
                          std::to_string(server.port()) + "\r\nConnection: close\r\n\r\n");
        }
    }
}

// Nothing listens on port 1; a label over 63 characters cannot even be put into a name query,
// so no resolver is asked; a silent server is given up at the deadline.
TEST(Client, UnreachableServicesFailWithTheCause) {
    loopback_server silent;
    for (const auto& [endpoint, cause] :
         {std::pair<highscore_endpoint, const char*>{{"127.0.0.1", 1}, "connect"},
          {{std::string(64, 'x') + ".invalid", 80}, "cannot resolve"},
          {{"127.0.0.1", silent.port()}, "no answer in time"}}) {
        const post_result result = post_to(endpoint, 300ms);
        EXPECT_FALSE(result.success);
        EXPECT_NE(result.detail.find(cause), std::string::npos) << result.detail;
    }
    // A worker may end while its post is under way; the post then finishes on its own.
    score_post_worker{next_random, 100ms}.start("ada", 1, {"127.0.0.1", silent.port()});
    std::this_thread::sleep_for(300ms);
}

// The end screen's few words: what failed, or what the board said.
TEST(Client, FailuresAreToldInAFewWords) {
    loopback_server silent;
    const std::pair<const char*, const char*> answers[] = {
        {"HTTP/1.1 400 Bad Request\r\n\r\nname needs a letter or digit\n",
         "refused: name needs a letter or digit"},
        {"HTTP/1.1 429 Too Many Requests\r\nContent-Length: 0\r\n\r\n",
         "refused: Too Many Requests"},
        {"HTTP/1.1 403 Forbidden\r\n\r\n<html><body>403</body></html>\r\n", "refused: Forbidden"},
        {"HTTP/1.1 400 \r\n\r\n\x01\x7f bad\n", "refused: ?? bad"},
        {"HTTP/1.1 418 \r\n\r\n", "refused: 418"},
        {"SSH-2.0-OpenSSH\r\n", "no answer that a board gives"}};
    for (const auto& [answer, words] : answers) {
        loopback_server server(std::vector<std::string>{answer});
        EXPECT_EQ(post_failure_words(post_to({"127.0.0.1", server.port()}), 5s), words) << answer;
    }
    EXPECT_EQ(post_failure_words(post_to({"127.0.0.1", 1}), 5s), "could not connect");
    EXPECT_EQ(post_failure_words(post_to({"127.0.0.1", silent.port()}, 300ms), 5s),
              "no answer in 5 s");
    // A long reason is cut to fit the screen's line.
    loopback_server wordy(
        std::vector<std::string>{"HTTP/1.1 400 Bad Request\r\n\r\n" + std::string(150, 'x')});
    const std::string words = post_failure_words(post_to({"127.0.0.1", wordy.port()}), 5s);
    EXPECT_LE(words.size(), 52u);
    EXPECT_TRUE(words.ends_with("x...")) << words;
    post_result accepted;
    accepted.success = true;
    EXPECT_EQ(post_failure_words(accepted, 5s), "");
}

// An IPv6 board is reached by its address in brackets, and named so in the Host header.
TEST(Client, PostsToAnIpv6Board) {
    loopback_server server(std::vector<std::string>{"HTTP/1.1 200 OK\r\n\r\n"}, AF_INET6);
    if (!server.listening()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ::setenv("KULIMBARA_HIGHSCORE_URL", ("http://[::1]:" + std::to_string(server.port())).c_str(),
             1);
    score_post_worker worker(next_random);
    worker.start("ada", 1);
    const post_result result = worker.wait();
    ::unsetenv("KULIMBARA_HIGHSCORE_URL");
    EXPECT_TRUE(result.success) << result.detail;
    EXPECT_EQ(worker.board(), "http://[::1]:" + std::to_string(server.port()));
    EXPECT_NE(server.request().find("\r\nHost: [::1]:" + std::to_string(server.port()) + "\r\n"),
              std::string::npos)
        << server.request();
}

// A replay goes as its bytes; an accepted one brings its rank, a refused one its reason.
TEST(Client, PostsTheReplayAndReadsTheRankOrTheReason) {
    const std::string bytes("KBREPLAY\0\x01\xff", 11);
    const std::tuple<const char*, bool, int, const char*> rows[] = {
        {"HTTP/1.1 201 Created\r\nContent-Type: application/json\r\nContent-Length: 35\r\n\r\n"
         "{\"rank\":3,\"id\":\"0123456789abcdef\"}",
         true, 3, "HTTP/1.1 201 Created"},
        // Without a length the body ends with the connection.
        {"HTTP/1.1 201 Created\r\n\r\n{\"id\":\"0123456789abcdef\",\"rank\": 120}", true, 120,
         "HTTP/1.1 201 Created"},
        {"HTTP/1.1 409 Conflict\r\nContent-Length: 15\r\n\r\nalready posted\n", false, 0,
         "HTTP/1.1 409 Conflict: already posted"}};
    for (const auto& [answer, success, rank, detail] : rows) {
        loopback_server server(std::vector<std::string>{answer});
        const post_result result =
            send_replay(bytes, {"127.0.0.1", server.port()}, std::chrono::steady_clock::now() + 5s);
        EXPECT_EQ(result.success, success) << answer;
        EXPECT_EQ(result.rank, rank) << answer;
        EXPECT_EQ(result.detail, detail);
        EXPECT_EQ(server.request(),
                  "POST /replays HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                      "\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: 11\r\nConnection: close\r\n\r\n" +
                      bytes);
    }
}

// A board that does not know replays, or cannot take this one, gets the name and score as
// before; a judged refusal stands.
TEST(Client, AnOlderBoardGetsTheScorePostInstead) {
    for (const auto& [refusal, posts, success] :
         {std::tuple<const char*, std::size_t, bool>{"HTTP/1.1 404 Not Found\r\n\r\n", 2, true},
          {"HTTP/1.1 405 Method Not Allowed\r\n\r\n", 2, true},
          {"HTTP/1.1 413 Payload Too Large\r\n\r\n", 2, true},
          {"HTTP/1.1 409 Conflict\r\n\r\n", 1, false}}) {
        std::vector<std::string> answers{refusal, "HTTP/1.1 200 OK\r\n\r\n"};
        answers.resize(posts);
        loopback_server server{answers};
        score_post_worker worker(next_random);
        worker.start("ada", 470, {"127.0.0.1", server.port()}, std::string("KBREPLAY"));
        const post_result result = worker.wait();
        EXPECT_EQ(result.success, success) << refusal << result.detail;
        EXPECT_EQ(result.rank, 0);
        const std::vector<std::string> requests = server.requests();
        ASSERT_EQ(requests.size(), posts) << refusal;
        EXPECT_TRUE(requests[0].starts_with("POST /replays "));
        if (posts == 2) {
            EXPECT_TRUE(requests[1].starts_with("GET /highscore.php?name=ada&score=470&check="));
        }
    }
}

}  // namespace
