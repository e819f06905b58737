#include "hiscore.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <set>
#include <string>

#include "loopback_server.h"
#include "random.h"

namespace {

using namespace std::chrono_literals;

TEST(CheckValue, CrcHalfMatchesTheCatalogueAndAnEmptyMessageChecksToZero) {
    EXPECT_EQ(crc32_bzip2("123456789"), 0xFC891918u);
    EXPECT_EQ(crc32_bzip2(""), 0u);
    for (const int key : {0, 1, 120, 99999}) {
        EXPECT_EQ(check_code("", key), 0u) << key;
    }
}

TEST(CheckValue, BitSwapExchangesExactlyTwoBits) {
    EXPECT_EQ(bit_swap(0x01, 0, 7), 0x80);
    EXPECT_EQ(bit_swap(0x80, 0, 7), 0x01);
    EXPECT_EQ(bit_swap(0x81, 0, 7), 0x81);
    EXPECT_EQ(bit_swap(0xEF, 4, 1), 0xFD);
    EXPECT_EQ(bit_swap(0x5A, 3, 3), 0x5A);
}

// Every mix is a permutation of the byte's bits: no two bytes mix to one, and no bit is lost
// or doubled. A mix that merged bytes would make the check weaker than a plain CRC.
TEST(CheckValue, BitMixPermutesTheBitsOfEveryByte) {
    for (const int key : {0, 1, 2, 7, 120, 210, 97, 100000}) {
        for (int idx = 0; idx < 9; ++idx) {
            std::set<int> seen;
            for (int value = 0; value < 256; ++value) {
                const unsigned char mixed = bit_mix(static_cast<unsigned char>(value), key, idx);
                seen.insert(mixed);
                ASSERT_EQ(std::popcount(mixed), std::popcount(static_cast<unsigned>(value)))
                    << "key " << key << " index " << idx << " value " << value;
            }
            EXPECT_EQ(seen.size(), 256u) << "key " << key << " index " << idx;
        }
    }
}

// These values pin the key material that deployed services share: a change to the mixing
// table, the fixed pairs or the check's input format would make every service refuse the
// game's posts.
TEST(CheckValue, CheckDigitsArePinnedForDeployedServices) {
    EXPECT_EQ(check_digits("ab cd", 120), std::to_string(check_code("120ab cd4294967175", 120)));
    EXPECT_EQ(check_digits("ab cd", 120), "3913500777");
    EXPECT_EQ(check_digits("zero", 0), std::to_string(check_code("0zero4294967295", 0)));
    EXPECT_EQ(check_digits("zero", 0), "3730232300");
    EXPECT_NE(check_code("abc", 2), check_code("abc", 3));
}

TEST(Params, QueryCarriesEscapedNameScoreAndInterleavedCheck) {
    struct row {
        std::string name;
        int score;
        std::string escaped;
    };
    const row rows[] = {
        {"ada", 470, "ada"},
        {"ab cd", 120, "ab%20cd"},
        {"   ", 5, "%20%20%20"},
        {"zero_0", 0, "zero_0"},
        {"aaaaaaaaaaaaaaaa", 2147483647, "aaaaaaaaaaaaaaaa"},
    };
    seed_random(7);
    for (const row& r : rows) {
        const std::string query = generate_params(r.name, r.score);
        const std::string head =
            "name=" + r.escaped + "&score=" + std::to_string(r.score) + "&check=";
        ASSERT_EQ(query.substr(0, head.size()), head) << query;
        const std::string check = query.substr(head.size());
        const std::string digits = check_digits(r.name, r.score);
        ASSERT_EQ(check.size(), 2 * digits.size()) << query;
        for (std::size_t i = 0; i < digits.size(); ++i) {
            EXPECT_EQ(check[2 * i], digits[i]) << query;
            const char filler = check[2 * i + 1];
            EXPECT_TRUE((filler >= '0' && filler <= '9') || (filler >= 'a' && filler <= 'f'))
                << query;
        }
    }
}

TEST(Endpoint, UrlGivesHostAndPortOrNothing) {
    struct row {
        const char* url;
        const char* host;  // nullptr: refused
        int port;
    };
    const row rows[] = {
        {"http://scores.example.org:8080", "scores.example.org", 8080},
        {"http://scores.example.org/", "scores.example.org", 80},
        {"scores.example.org", "scores.example.org", 80},
        {"127.0.0.1:9", "127.0.0.1", 9},
        {"https://scores.example.org", nullptr, 0},
        {"http://", nullptr, 0},
        {"http://h:65536", nullptr, 0},
        {"http://h:80x", nullptr, 0},
        {"http://h/board", nullptr, 0},
    };
    for (const row& r : rows) {
        const std::optional<highscore_endpoint> endpoint = parse_highscore_url(r.url);
        if (r.host == nullptr) {
            EXPECT_FALSE(endpoint) << r.url;
        } else {
            ASSERT_TRUE(endpoint) << r.url;
            EXPECT_EQ(endpoint->host, r.host) << r.url;
            EXPECT_EQ(endpoint->port, r.port) << r.url;
        }
    }
}

post_result post_to(int port, std::chrono::milliseconds bound = 5000ms) {
    return send_data("name=ada&score=1&check=1a", {"127.0.0.1", port},
                     std::chrono::steady_clock::now() + bound);
}

TEST(Client, SendsOneCompleteRequestWithCrLfAndClose) {
    loopback_server server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    const post_result result = post_to(server.port());
    EXPECT_TRUE(result.success) << result.detail;
    EXPECT_EQ(result.detail, "HTTP/1.1 200 OK");
    EXPECT_EQ(server.request(),
              "GET /highscore.php?name=ada&score=1&check=1a HTTP/1.1\r\nHost: "
              "127.0.0.1:" +
                  std::to_string(server.port()) + "\r\nConnection: close\r\n\r\n");
}

TEST(Client, OnlyATwoHundredAnswerIsSuccess) {
    struct row {
        const char* answer;
        bool success;
    };
    const row rows[] = {
        {"HTTP/1.1 200 OK\r\n\r\nstored\n", true},
        {"HTTP/1.0 204 No Content\n\n", true},
        {"HTTP/1.1 400 Bad Request\r\n\r\nwrong check value\n", false},
        {"HTTP/1.1 429 Too Many Requests\r\n\r\n", false},
        {"HTTP/1.1 302 Found\r\nLocation: /\r\n\r\n", false},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", false},
        {"HTTP/1.1 2000 OK\r\n\r\n", false},
        {"<html>200 OK</html>\r\n", false},
        {"", false},  // closed without an answer
    };
    for (const row& r : rows) {
        loopback_server server{std::string(r.answer)};
        const post_result result = post_to(server.port());
        EXPECT_EQ(result.success, r.success) << r.answer << " gave " << result.detail;
    }
}

TEST(Client, UnreachableServicesFail) {
    const post_result refused = post_to(closed_loopback_port());
    EXPECT_FALSE(refused.success);
    EXPECT_NE(refused.detail.find("connect"), std::string::npos) << refused.detail;

    // A label over 63 characters cannot even be put into a name query, so no resolver is
    // asked.
    const std::string unresolvable = std::string(64, 'x') + ".invalid";
    const post_result unresolved = send_data("name=ada&score=1&check=1a", {unresolvable, 80},
                                             std::chrono::steady_clock::now() + 5000ms);
    EXPECT_FALSE(unresolved.success);
    EXPECT_NE(unresolved.detail.find("cannot resolve"), std::string::npos) << unresolved.detail;
}

// ESCAPE during a post ends the game without waiting: the post finishes on its own.
TEST(Worker, CanBeDroppedMidPost) {
    loopback_server silent(std::nullopt);
    auto abandoned = std::make_unique<score_post_worker>(200ms);
    abandoned->start("bob", 1, {"127.0.0.1", silent.port()});
    abandoned.reset();
}

}  // namespace
