// SPDX-License-Identifier: MIT
#include "highscore_service.h"

#include <httplib.h>
#include <sqlite3.h>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client.h"
#include "post_limiter.h"
#include "protocol.h"
#include "random.h"
#include "replay.h"
#include "request_front.h"

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A connection to 127.0.0.1:port, or -1.
int connect_to(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Everything read from fd until the peer closes it or `wait` passes.
std::string read_all(int fd, std::chrono::milliseconds wait = std::chrono::seconds(5)) {
    std::string answer;
    const auto give_up = std::chrono::steady_clock::now() + wait;
    char chunk[4096];
    while (std::chrono::steady_clock::now() < give_up) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 50) <= 0) {
            continue;
        }
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            break;
        }
        answer.append(chunk, static_cast<std::size_t>(got));
    }
    return answer;
}

// Sends `request` on a new connection and reads the whole answer; its status, 0 when none came.
std::pair<int, std::string> send_request(int port, const std::string& request) {
    const int fd = connect_to(port);
    if (fd < 0) {
        return {0, ""};
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer = read_all(fd);
    ::close(fd);
    const int status = answer.starts_with("HTTP/1.1 ") ? std::atoi(answer.c_str() + 9) : 0;
    return {status, answer};
}

std::string body_of(const std::string& answer) {
    return answer.substr(answer.find("\r\n\r\n") + 4);
}

// A whole finished game by "golden": 2820 points, 510 of them in level 3.
std::string golden_replay() {
    std::ifstream file(KULIMBARA_SOURCE_DIR "/tests/golden/game.replay", std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string changed_replay(const std::function<void(replay&)>& change) {
    replay r = *decode_replay(golden_replay()).result;
    change(r);
    return encode_replay(r);
}

std::string replay_id_of(const std::string& bytes) {
    char id[17];
    std::snprintf(id, sizeof id, "%016llx",
                  static_cast<unsigned long long>(frames_hash(*decode_replay(bytes).result)));
    return id;
}

std::string query(const std::string& name, int score) {
    return "/highscore.php?" + generate_params(name, score, next_random);
}

class Service : public ::testing::Test {
  protected:
    std::string scratch = std::filesystem::temp_directory_path() / "kulimbara-service-XXXXXX";
    std::unique_ptr<highscore_service> service;
    std::thread serving;
    int port = -1;
    int posts_per_minute = 0;
    std::string homepage = "https://example.org/k?a=1&b=\"2\"";

    void SetUp() override {
        ASSERT_NE(::mkdtemp(scratch.data()), nullptr);
        service = std::make_unique<highscore_service>(
            service_config{.db_path = scratch + "/scores.sqlite",
                           .posts_per_minute = posts_per_minute,
                           .homepage = homepage});
        port = service->bind("127.0.0.1", 0);
        ASSERT_GT(port, 0);
        serving = std::thread([this] { service->listen(); });
        service->wait_until_ready();
        seed_random(3);
    }
    void TearDown() override {
        if (serving.joinable()) {
            service->stop();
            serving.join();
        }
        std::filesystem::remove_all(scratch);
    }

    // The answer's status and body; 0 when there is none.
    std::pair<int, std::string> get(const std::string& path, const char* real_ip = "") {
        httplib::Client client("127.0.0.1", port);
        client.set_url_encode(false);
        const httplib::Result answer = client.Get(
            path, *real_ip != '\0' ? httplib::Headers{{"X-Real-IP", real_ip}} : httplib::Headers{});
        return answer ? std::pair(answer->status, answer->body) : std::pair(0, std::string());
    }
    std::pair<int, std::string> post_replay(const std::string& bytes) {
        httplib::Client client("127.0.0.1", port);
        const httplib::Result answer = client.Post("/replays", bytes, "application/octet-stream");
        return answer ? std::pair(answer->status, answer->body) : std::pair(0, std::string());
    }
};

// Names are stored trimmed, and the same name and score again is stored once.
TEST_F(Service, StoresValidPostsOnceAndRanksThemOnBothBoards) {
    EXPECT_NE(get("/").second.find("No scores yet."), std::string::npos);
    score_post_worker worker(next_random);
    worker.start("best_of_the_best", 1200, {"127.0.0.1", port});
    const post_result result = worker.wait();
    EXPECT_TRUE(result.success) << result.detail;
    EXPECT_EQ(get(query("  ada ", 470)), std::pair(200, std::string("stored\n")));
    EXPECT_EQ(get(query("ada", 470)), std::pair(200, std::string("already stored\n")));
    const post_answer direct = service->answer_post(query("two words", 0), "192.0.2.1");
    EXPECT_EQ(std::pair(direct.status, direct.line), std::pair(200, std::string("stored")));

    const auto [json_status, json] = get("/scores.json");
    EXPECT_EQ(json_status, 200);
    EXPECT_EQ(json.find("[\n{\"rank\":1,\"name\":\"best_of_the_best\",\"score\":1200,"), 0u)
        << json;
    EXPECT_NE(json.find("{\"rank\":2,\"name\":\"ada\",\"score\":470,"), std::string::npos);
    EXPECT_NE(json.find("{\"rank\":3,\"name\":\"two words\",\"score\":0,"), std::string::npos);
    const std::string page = get("/").second;
    EXPECT_LT(page.find("best_of_the_best"), page.find("two words"));
    EXPECT_EQ(get("/healthz"), std::pair(200, std::string("ok\n")));
    EXPECT_EQ(service->top(100).size(), 3u);
}

TEST_F(Service, RefusesEveryMalformedPostWithItsReasonAndStoresNothing) {
    const std::string valid = generate_params("ada b", 470, next_random);
    const std::string check = valid.substr(valid.find("&check=") + 7);
    const std::string rest = "&score=470&check=" + check;
    const std::string bad_name = "name must be 1 to 16 of a-z, 0-9, %20 and _";
    const std::string nameless = "name needs a letter or a digit";
    const std::string bad_score = "score must be a whole number from 0 to 100000";
    const std::pair<std::string, std::string> refused[] = {
        {"name=ada%20b&score=471&check=" + check, "wrong check value"},
        {"name=ada%20b&score=470", "missing parameter check"},
        {"score=470&check=" + check, "missing parameter name"},
        {"", "no parameters"},
        {"name=ada%20b&name=ada%20b" + rest, "repeated parameter name"},
        {valid + "&x=1", "unknown parameter"},
        {valid + "&", "parameter without a value"},
        {"name=Ada%20b" + rest, bad_name},
        {"name=" + std::string(17, 'a') + rest, bad_name},
        {"name=" + rest, bad_name},
        {"name=ada+b" + rest, bad_name},
        {"name=ada%5fb" + rest, bad_name},
        {"name=ada%2" + rest, bad_name},
        {generate_params(" _ ", 5, next_random), nameless},
        {generate_params("                ", 5, next_random), nameless},
        {"name=ada%20b&score=-470&check=" + check, bad_score},
        {"name=ada%20b&score=0470&check=" + check, bad_score},
        {generate_params("ada", 100001, next_random), bad_score},
        {"name=ada%20b&score=470&check=" + check.substr(1), "malformed check field"},
        {"name=ada%20b" + rest.substr(0, 18) + "A" + rest.substr(19), "malformed check field"},
    };
    for (const auto& [refused_query, reason] : refused) {
        EXPECT_EQ(get("/highscore.php?" + refused_query), std::pair(400, reason + "\n"))
            << refused_query;
    }
    // No HTTP request line carries a raw space, so that rule is asked of the check directly.
    EXPECT_EQ(validate_score_query("name=ada b" + rest, 100000).reason, bad_name);
    EXPECT_EQ(get("/highscore.php?" + valid + "&pad=" + std::string(1100, 'x')).first, 414);
    EXPECT_TRUE(service->top(100).empty());
    EXPECT_EQ(get("/highscore.php?" + valid).first, 200);
}

// What only a connection shows of the head's rules (RequestHead has the table): the answer
// closes the connection, a refused body is drained rather than read as the next request, and
// nothing is stored.
TEST_F(Service, RefusesBodiesAndOtherMethodsFromTheHeadAndClosesTheConnection) {
    const std::string valid = query("ada", 470);
    const std::pair<std::string, int> refused[] = {
        {"POST /highscore.php HTTP/1.1\r\nContent-Encoding: gzip\r\nContent-Length: "
         "1018880\r\n\r\n",
         415},
        {"GET " + valid + " HTTP/1.1\r\nX-Many: 1\r\n" + std::string(8200, 'x') + "\r\n\r\n", 431},
        {"POST /replays HTTP/1.1\r\nContent-Length: 262145\r\n\r\n", 413},
        {"POST /replays HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
        {"GET / HTTP/1.1\r\nContent-Length: 40\r\n\r\nGET " + valid + " HTTP/1.1\r\n\r\n", 413},
    };
    for (const auto& [request, status] : refused) {
        const auto [got, answer] = send_request(port, request);
        EXPECT_EQ(got, status) << request.substr(0, 80) << "\n" << answer;
        EXPECT_NE(answer.find("Connection: close"), std::string::npos);
        EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << answer;
    }
    httplib::Client client("127.0.0.1", port);
    client.set_url_encode(false);
    const httplib::Result head = client.Head(valid);
    ASSERT_TRUE(head);
    EXPECT_EQ(std::pair(head->status, head->get_header_value("Allow")),
              std::pair(405, std::string("GET")));
    EXPECT_EQ(client.Head("/healthz")->status, 200);
    EXPECT_TRUE(service->top(100).empty());
    // An empty body is no body.
    EXPECT_EQ(send_request(port, "GET " + valid +
                                     " HTTP/1.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                  .first,
              200);
}

// Ranges would make the service build a multipart answer from a short request.
TEST_F(Service, SendsThePagesWholeWhateverTheRange) {
    ASSERT_EQ(get(query("ada", 470)).first, 200);
    std::string ranges = "bytes=0-";
    for (int i = 0; i < 1000; ++i) {
        ranges += ",0-";
    }
    for (const std::string path : {"/", "/scores.json"}) {
        for (const std::string& range : {ranges, std::string("bytes=0-9")}) {
            const auto [status, answer] =
                send_request(port, "GET " + path + " HTTP/1.1\r\nRange: " + range +
                                       "\r\nConnection: close\r\n\r\n");
            EXPECT_EQ(std::pair(status, body_of(answer)), get(path)) << path;
        }
    }
}

// A slow or idle client holds a file descriptor, not a worker: with 40 idle connections and
// 16 that drip a partial head, /healthz still answers.
TEST_F(Service, AnswersHealthzWhileSlowAndIdleConnectionsHang) {
    std::vector<int> hanging;
    for (int i = 0; i < 56; ++i) {
        hanging.push_back(connect_to(port));
        ASSERT_GE(hanging.back(), 0);
        if (i % 7 < 3) {
            ::send(hanging.back(), "GET /heal", 9, MSG_NOSIGNAL);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(get("/healthz"), std::pair(200, std::string("ok\n")));
    for (const int fd : hanging) {
        ::close(fd);
    }
}

// A tampered replay is refused with its reason; the same play again, under any name or with
// its frames changed where it makes no difference, is refused as a duplicate.
TEST_F(Service, RanksAVerifiedGameServesItsReplayAndRefusesTamperedOrRepeatedOnes) {
    ASSERT_EQ(get(query("ada", 5000)).first, 200);
    ASSERT_EQ(get(query("bob", 100)).first, 200);
    const std::string golden = golden_replay();
    std::string other_rules = golden;
    other_rules[10] ^= 1;  // in the rules' hash, after the magic and the version
    const std::pair<std::string, std::string> refused[] = {
        {changed_replay([](replay& r) {
             r.levels[3].score += 10;
             r.total_score += 10;
         }),
         "replay refused: level 3: claimed score 520, recomputed 510\n"},
        {changed_replay([](replay& r) { r.total_score += 1; }),
         "replay refused: claimed total 2821, recomputed 2820\n"},
        {changed_replay([](replay& r) { r.finished = false; }),
         "replay refused: the game was not finished\n"},
        {changed_replay([](replay& r) { r.player_name = "__"; }),
         "replay refused: name needs a letter or a digit\n"},
        {golden.substr(0, golden.size() - 1), "bad replay file: truncated\n"},
        {other_rules, "bad replay file: made under other rules"},
    };
    for (const auto& [bytes, reason] : refused) {
        const auto [status, line] = post_replay(bytes);
        EXPECT_EQ(status, 400) << line;
        EXPECT_TRUE(line.starts_with(reason)) << line;
    }
    EXPECT_EQ(service->top(100).size(), 2u);

    const std::string id = replay_id_of(golden);
    httplib::Client client("127.0.0.1", port);
    const httplib::Result posted = client.Post("/replays", golden, "application/octet-stream");
    ASSERT_TRUE(posted);
    EXPECT_EQ(std::pair(posted->status, posted->body),
              std::pair(201, "{\"rank\":2,\"id\":\"" + id + "\"}"));
    EXPECT_EQ(posted->get_header_value("Content-Type"), "application/json");
    const std::string json = get("/scores.json").second;
    EXPECT_NE(json.find("{\"rank\":2,\"name\":\"golden\",\"score\":2820,"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"verified\":true,\"replay\":\"/replays/" + id + "\"}"),
              std::string::npos);
    EXPECT_NE(json.find("\"verified\":false,\"replay\":null}"), std::string::npos) << json;
    EXPECT_NE(get("/").second.find("<a href=\"/replays/" + id + "\""), std::string::npos);

    const httplib::Result served = client.Get("/replays/" + id);
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200);
    EXPECT_TRUE(served->body == golden);
    EXPECT_EQ(served->get_header_value("Content-Type"), "application/octet-stream");
    EXPECT_EQ(served->get_header_value("Content-Disposition"),
              "attachment; filename=\"kulimbara-" + id + ".replay\"");
    std::string upper = id;
    upper[0] = 'A';
    for (const std::string& unknown : {std::string("0123456789abcdef"), upper, id + "0",
                                       id.substr(1), std::string("../scores.json")}) {
        EXPECT_EQ(get("/replays/" + unknown).first, 404) << unknown;
    }

    const std::string stored = "replay " + id + " is stored already\n";
    EXPECT_EQ(post_replay(golden), std::pair(409, stored));
    EXPECT_EQ(post_replay(changed_replay([](replay& r) { r.player_name = "thief"; })),
              std::pair(409, stored));
    // X pressed and released in the middle of play changes nothing in the game.
    const std::string noisy = changed_replay([](replay& r) {
        const std::uint32_t at = r.frames[1000].keys_end;
        r.keys.insert(r.keys.begin() + at, {{true, 'x'}, {false, 'x'}});
        for (std::size_t i = 1000; i < r.frames.size(); ++i) {
            r.frames[i].keys_end += 2;
        }
        r.player_name = "thief";
    });
    EXPECT_EQ(post_replay(noisy),
              std::pair(409, "the same game is stored already, as replay " + id + "\n"));
    EXPECT_EQ(service->top(100).size(), 3u);
}

// The board of the version before replays opens with its scores, unverified; with replays
// required, the GET post is refused and the board lists the verified scores alone. Addresses
// are erased from the stored posts after their days; the scores stay.
TEST(ServiceDatabase, MigratesTheVersionBeforeReplaysAndErasesOldAddresses) {
    std::string scratch = std::filesystem::temp_directory_path() / "kulimbara-migrate-XXXXXX";
    ASSERT_NE(::mkdtemp(scratch.data()), nullptr);
    const std::string path = scratch + "/scores.sqlite";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const auto sql = [&](const char* statements) {
        std::string rows;
        sqlite3_exec(
            db, statements,
            [](void* text, int, char** values, char**) {
                *static_cast<std::string*>(text) += std::string(values[0]) + "=" + values[1] + " ";
                return 0;
            },
            &rows, nullptr);
        return rows;
    };
    sql("CREATE TABLE scores (id INTEGER PRIMARY KEY, name TEXT NOT NULL,"
        " score INTEGER NOT NULL, posted_utc TEXT NOT NULL, address TEXT NOT NULL,"
        " UNIQUE (name, score));"
        "INSERT INTO scores (name, score, posted_utc, address) VALUES"
        " ('ada', 5000, strftime('%Y-%m-%dT%H:%M:%SZ', 'now', '-31 days'), '192.0.2.1'),"
        " ('golden', 2820, strftime('%Y-%m-%dT%H:%M:%SZ', 'now', '-29 days'), '192.0.2.2')");
    const std::string golden = golden_replay();
    for (const bool require_replay : {false, true}) {
        highscore_service service(service_config{
            .db_path = path, .log_requests = false, .require_replay = require_replay});
        const std::vector<score_entry> board = service.top(100);
        const post_answer get_post = service.answer_post(query("bob", 10), "192.0.2.3");
        if (!require_replay) {
            ASSERT_EQ(board.size(), 2u);
            EXPECT_EQ(board[1].replay_id, "");
            EXPECT_EQ(get_post.status, 200);
            // The replay proves the score that was posted by GET: it becomes verified.
            EXPECT_EQ(service.answer_replay(golden, "192.0.2.4").line,
                      "{\"rank\":2,\"id\":\"" + replay_id_of(golden) + "\"}");
            EXPECT_EQ(service.top(100).size(), 3u);
            // Opening erased the addresses past the default 30 days.
            EXPECT_EQ(sql("SELECT score, address FROM scores ORDER BY score"),
                      "10=192.0.2.3 2820=192.0.2.2 5000= ");
            EXPECT_EQ(service.erase_addresses_older_than(28), 1);
            EXPECT_EQ(sql("SELECT score, address FROM scores ORDER BY score"),
                      "10=192.0.2.3 2820= 5000= ");
        } else {
            ASSERT_EQ(board.size(), 1u);
            EXPECT_EQ(std::pair(board[0].name, board[0].replay_id),
                      std::pair(std::string("golden"), replay_id_of(golden)));
            EXPECT_EQ(std::pair(get_post.status, get_post.line),
                      std::pair(403, std::string("replay required")));
        }
    }
    sqlite3_close(db);
    std::filesystem::remove_all(scratch);
}

// With the database's write lock held elsewhere a post waits for it; /healthz and the board
// read beside it.
TEST_F(Service, AnswersHealthzAndTheBoardWhileAPostWaitsForTheDatabase) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((scratch + "/scores.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread waiting_post([&] { EXPECT_EQ(get(query("ada", 470)).first, 200); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(std::chrono::seconds(2));
    EXPECT_EQ(client.Get("/healthz")->status, 200);
    EXPECT_EQ(client.Get("/scores.json")->body, "[\n]\n");
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    waiting_post.join();
    sqlite3_close(db);
    EXPECT_EQ(service->top(100).size(), 1u);
}

// The texts between `open` and `close` in turn, each `open` searched after the last text; a
// field missing stops the list.
std::vector<std::string> fields_in(const std::string& text,
                                   const std::vector<std::pair<std::string, std::string>>& marks) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
        for (const auto& [open, close] : marks) {
            const std::size_t start = text.find(open, at);
            const std::size_t end =
                start == std::string::npos ? start : text.find(close, start + open.size());
            if (end == std::string::npos) {
                return fields;
            }
            fields.push_back(text.substr(start + open.size(), end - start - open.size()));
            at = end;
        }
    }
}

// The board's rows as "rank name score", in the page's order.
std::vector<std::string> board_rows(const std::string& page) {
    const std::vector<std::string> fields = fields_in(page, {{"<tr><td class=\"rank\">", "<"},
                                                             {"<td class=\"name\" title=\"", "\""},
                                                             {"<td class=\"score\">", "<"}});
    std::vector<std::string> rows;
    for (std::size_t i = 0; i + 2 < fields.size(); i += 3) {
        rows.push_back(fields[i] + " " + fields[i + 1] + " " + fields[i + 2]);
    }
    return rows;
}

// Equal scores share a rank (1, 2, 2, 4) on the page and in the JSON; the page lists each
// player's best once and links the player's own scores, which ?player=NAME lists, the name
// folded and trimmed as the game and the board do.
TEST_F(Service, RanksEqualScoresAlikeAndListsEachPlayersBestOnce) {
    const std::pair<const char*, int> posts[] = {{"ada", 500}, {"bob", 400},   {"cy", 400},
                                                 {"ada", 450}, {"dan d", 300}, {"ada", 100}};
    for (const auto& [name, score] : posts) {
        ASSERT_EQ(service->answer_post(query(name, score), "192.0.2.1").status, 200);
    }
    const std::string page = get("/").second;
    EXPECT_EQ(board_rows(page),
              (std::vector<std::string>{"1 ada 500", "2 bob 400", "2 cy 400", "4 dan d 300"}));
    EXPECT_NE(page.find("<a href=\"/?player=dan%20d\">dan d</a>"), std::string::npos);
    EXPECT_NE(page.find("the best 100 scores, each player&#39;s best once"), std::string::npos);

    const std::vector<std::string> ada{"1 ada 500", "2 ada 450", "3 ada 100"};
    for (const std::string asked : {"ada", "ADA", "%20ada%20", "+Ada"}) {
        const auto [status, own] = get("/?player=" + asked);
        EXPECT_EQ(status, 200) << asked;
        EXPECT_EQ(board_rows(own), ada) << asked;
        EXPECT_NE(own.find("the best 100 scores of <strong>ada</strong>"), std::string::npos);
    }
    EXPECT_EQ(board_rows(get("/?player=dan+d").second), std::vector<std::string>{"1 dan d 300"});
    EXPECT_NE(get("/?player=eve").second.find("No scores by <strong>eve</strong> yet."),
              std::string::npos);

    // The JSON lists every score, as before, ranked alike; ?player= filters it too.
    std::string ranks;
    const std::string json = get("/scores.json").second;
    const std::vector<std::string> fields =
        fields_in(json, {{"\"rank\":", ","}, {"\"name\":\"", "\""}, {"\"score\":", ","}});
    for (std::size_t i = 0; i + 2 < fields.size(); i += 3) {
        ranks += fields[i] + " " + fields[i + 1] + " " + fields[i + 2] + ",";
    }
    EXPECT_EQ(ranks, "1 ada 500,2 ada 450,3 bob 400,3 cy 400,5 dan d 300,6 ada 100,");
    const std::string own_json = get("/scores.json?player=ada").second;
    EXPECT_EQ(own_json.find("{\"rank\":1,\"name\":\"ada\",\"score\":500,"), 2u) << own_json;
    EXPECT_NE(own_json.find("{\"rank\":3,\"name\":\"ada\",\"score\":100,"), std::string::npos);
    EXPECT_EQ(own_json.find("bob"), std::string::npos);
}

// ?player= is the one value of a request that reaches the page and the database: a name no
// player can have is refused with one line, before either.
TEST_F(Service, RefusesPlayerNamesThatNoPlayerCanHave) {
    ASSERT_EQ(service->answer_post(query("ada", 500), "192.0.2.1").status, 200);
    const std::string refusal = "a player's name is 1 to 16 of a-z, 0-9, space and _\n";
    for (const std::string& hostile :
         {std::string("%3Cscript%3Ealert(1)%3C/script%3E"), std::string("ada%27--"),
          std::string("ada%22"), std::string("a%00"), std::string("%C3%A9"), std::string("__"),
          std::string("%20%20"), std::string(17, 'a'), std::string(900, 'a'),
          std::string("ada%25")}) {
        for (const std::string path : {"/?player=", "/scores.json?player="}) {
            EXPECT_EQ(get(path + hostile), std::pair(400, refusal)) << path << hostile;
        }
    }
    EXPECT_EQ(board_rows(get("/?player=").second), std::vector<std::string>{"1 ada 500"});
}

// Dates read as "7 Dec 2026" (a stored time of another form is shown as it is, escaped); one
// line says what the board is and links the game's home page; the page has an icon.
TEST_F(Service, ShowsReadableDatesTheGamesHomePageAndAnIcon) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((scratch + "/scores.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO scores (name, score, posted_utc, address) VALUES"
                           " ('ada', 30, '2026-12-07T20:15:03Z', ''),"
                           " ('bob', 20, '2027-01-31T00:00:00Z', ''),"
                           " ('cy', 10, '<b>2026-13-01</b>', '')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string page = get("/").second;
    EXPECT_NE(page.find("<time datetime=\"2026-12-07T20:15:03Z\" "
                        "title=\"2026-12-07T20:15:03Z\">7 Dec 2026</time>"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find(">31 Jan 2027</time>"), std::string::npos);
    EXPECT_NE(page.find(">&lt;b&gt;2026-13-01&lt;/b&gt;</time>"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("<p>The online high-score board of <a "
                        "href=\"https://example.org/k?a=1&amp;b=&quot;2&quot;\">Kulimbara</a>, "
                        "the one-key 3D arcade game: the best 100 scores"),
              std::string::npos)
        << page;

    EXPECT_NE(page.find("<link rel=\"icon\" href=\"/favicon.svg\" type=\"image/svg+xml\">"),
              std::string::npos);
    httplib::Client client("127.0.0.1", port);
    const httplib::Result icon = client.Get("/favicon.svg");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->status, 200);
    EXPECT_EQ(icon->get_header_value("Content-Type"), "image/svg+xml");
    EXPECT_TRUE(icon->body.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\""));
    EXPECT_TRUE(icon->body.ends_with("</svg>\n"));
}

// Whatever is not served is answered with one line of plain text, from the front (405) or
// from the routes (404).
TEST_F(Service, AnswersUnknownPathsAndMethodsWithOneLine) {
    for (const std::string path : {"/nope", "/replays", "/favicon.ico", "/index.html"}) {
        const auto [status, answer] =
            send_request(port, "GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(status, 404) << path;
        EXPECT_NE(answer.find("Content-Type: text/plain"), std::string::npos) << answer;
        EXPECT_EQ(body_of(answer), "not found\n") << path;
    }
    EXPECT_EQ(get("/replays/0123456789abcdef"), std::pair(404, std::string("no such replay\n")));
    for (const std::string method : {"POST", "PUT", "DELETE"}) {
        const auto [status, answer] =
            send_request(port, method + " / HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(status, 405) << method;
        EXPECT_NE(answer.find("Allow: GET, HEAD\r\n"), std::string::npos) << answer;
        const std::string body = body_of(answer);
        EXPECT_TRUE(body.size() > 1 && body.find('\n') == body.size() - 1) << body;
    }
}

TEST(ClientAddress, OneTextPerAddressAndOneLimitKeyPerSixtyFour) {
    const std::pair<const char*, const char*> canonical[] = {
        {"0::1", "::1"},
        {"::1", "::1"},
        {"::ffff:127.0.0.1", "127.0.0.1"},
        {"::FFFF:192.0.2.1", "192.0.2.1"},
        {"2001:DB8:0:0::1", "2001:db8::1"},
        {"192.0.2.1", "192.0.2.1"},
    };
    for (const auto& [text, expected] : canonical) {
        EXPECT_EQ(canonical_address(text), expected) << text;
    }
    for (const char* not_an_address : {"", "1.2.3", "fe80::1%lo", "[::1]", "1.2.3.4 ", "::1::"}) {
        EXPECT_EQ(canonical_address(not_an_address), std::nullopt) << not_an_address;
    }
    EXPECT_EQ(limit_key("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
    EXPECT_EQ(limit_key("2001:db8:1:2::ffff"), "2001:db8:1:2::/64");
    EXPECT_EQ(limit_key("192.0.2.1"), "192.0.2.1");
    EXPECT_TRUE(is_loopback("127.0.0.1") && is_loopback("127.1.2.3") && is_loopback("::1"));
    EXPECT_FALSE(is_loopback("128.0.0.1") || is_loopback("::2") || is_loopback("::"));
}

TEST(PostLimiter, CountsKeysUpToItsBoundThenSharesOneAllowance) {
    using clock = post_limiter::clock;
    post_limiter limiter(2, 3);
    const clock::time_point start = clock::now();
    for (const char* key : {"a", "b", "c"}) {
        EXPECT_TRUE(limiter.admit(key, start) && limiter.admit(key, start)) << key;
        EXPECT_FALSE(limiter.admit(key, start + std::chrono::seconds(59))) << key;
    }
    EXPECT_EQ(limiter.tracked(), 3u);
    // Beyond three keys, d and e share the overflow's two posts a minute.
    EXPECT_TRUE(limiter.admit("d", start));
    EXPECT_TRUE(limiter.admit("e", start));
    EXPECT_FALSE(limiter.admit("d", start));
    EXPECT_EQ(limiter.tracked(), 3u);
    // A key's oldest post leaves its window a minute later.
    EXPECT_TRUE(limiter.admit("a", start + std::chrono::seconds(61)));
    EXPECT_EQ(limiter.sweep(start + std::chrono::seconds(61)), 2u);  // b and c
    EXPECT_EQ(limiter.tracked(), 1u);
    EXPECT_TRUE(limiter.admit("d", start + std::chrono::seconds(61)));
    EXPECT_EQ(limiter.tracked(), 2u);
}

class LimitedService : public Service {
  protected:
    LimitedService() { posts_per_minute = 10; }
};

// Ten posts a minute per IPv4 address and per IPv6 /64, whatever the form of the address;
// X-Real-IP names the client only when the connection comes from loopback.
TEST_F(LimitedService, LimitsEachAddressAndTrustsXRealIpFromLoopbackOnly) {
    for (int i = 0; i < 10; ++i) {
        const std::string address = i % 2 == 0 ? "2001:db8::" + std::to_string(i + 1)
                                               : "2001:DB8:0:0:ffff::" + std::to_string(i);
        EXPECT_EQ(service->answer_post(query("ada", 100 + i), address).status, 200) << address;
        EXPECT_EQ(get(query("bob", 100 + i), "127.0.0.7").first, 200) << i;
    }
    EXPECT_EQ(service->answer_post(query("ada", 5), "2001:db8::abcd").status, 429);
    EXPECT_EQ(service->answer_post(query("ada", 5), "2001:db8:0:1::1").status, 200);
    EXPECT_EQ(get(query("bob", 5), "127.0.0.7").first, 429);
    EXPECT_EQ(get(query("bob", 5), "127.0.0.8").first, 200);
    for (int i = 0; i < 10; ++i) {
        service->answer_post(query("cy", 5), "::ffff:192.0.2.1");
    }
    EXPECT_EQ(service->answer_post(query("cy", 6), "192.0.2.1").status, 429);
    EXPECT_EQ(service->top(100).size(), 23u);

    // Listening on [::], a proxy on 127.0.0.1 arrives as ::ffff:127.0.0.1; on ::1 as itself.
    for (const char* host : {"::", "::1"}) {
        highscore_service v6(service_config{
            .db_path = scratch + "/v6.sqlite", .posts_per_minute = 1, .log_requests = false});
        const int v6_port = v6.bind(host, 0);
        ASSERT_GT(v6_port, 0);
        std::thread serving_v6([&] { v6.listen(); });
        v6.wait_until_ready();
        httplib::Client client(std::string(host) == "::" ? "127.0.0.1" : "::1", v6_port);
        const auto status = [&](const char* real_ip) {
            const httplib::Result answer =
                client.Get("/highscore.php?name=ada", httplib::Headers{{"X-Real-IP", real_ip}});
            return answer ? answer->status : 0;
        };
        EXPECT_EQ(status("192.0.2.5"), 400) << host;
        EXPECT_EQ(status("::ffff:192.0.2.5"), 429) << host;
        EXPECT_EQ(status("192.0.2.6"), 400) << host;
        v6.stop();
        serving_v6.join();
    }
    EXPECT_THROW(highscore_service(service_config{.db_path = ":memory:",
                                                  .trusted_proxies = {"proxy.example.org"}}),
                 std::runtime_error);
}

// Bound but not yet serving, the service queues a burst of new connections: far more than the
// HTTP library's own backlog of 5 complete their handshake before anything accepts them.
TEST(ServiceSocket, QueuesABurstOfConnectionsBeforeItServes) {
    highscore_service service(service_config{.db_path = ":memory:", .log_requests = false});
    const int port = service.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    const sockaddr_in address = loopback(port);
    std::vector<pollfd> burst(32);
    for (pollfd& connection : burst) {
        connection = {::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), POLLOUT, 0};
        ::connect(connection.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    int connected = 0;
    for (pollfd& connection : burst) {
        int error = -1;
        socklen_t length = sizeof error;
        ::poll(&connection, 1, 5000);
        ::getsockopt(connection.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        connected += (connection.revents & POLLOUT) != 0 && error == 0 ? 1 : 0;
        ::close(connection.fd);
    }
    EXPECT_EQ(connected, 32);
}

// The front on its own, with short limits and a worker that answers 200 to every head and
// echoes the body it was given.
class Front : public ::testing::Test {
  protected:
    int listening = -1;
    int port = -1;
    std::unique_ptr<request_front> front;
    std::thread serving;

    void start(const front_limits& limits) {
        listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), length), 0);
        ASSERT_EQ(::listen(listening, 64), 0);
        ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        front = std::make_unique<request_front>(
            limits,
            [](int socket, std::string_view head, std::string_view body, const std::string&,
               bool last) {
                const std::string ok =
                    "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nBody: " + std::string(body) +
                    "\r\n\r\n";
                ::send(socket, ok.data(), ok.size(), MSG_NOSIGNAL);
                return !last && head.find("close") == std::string_view::npos;
            },
            [](const std::string&, const head_verdict&) {});
        serving = std::thread([this] { front->serve(listening); });
        while (!front->is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void TearDown() override {
        if (serving.joinable()) {
            front->stop();
            serving.join();
        }
        ::close(listening);
    }
};

// Three answers per connection at most, the fourth head left unread; a head that does not
// end in time is answered 408, a silent connection closed.
TEST_F(Front, AnswersPipelinedHeadsAndClosesWhenTheirTimeIsUp) {
    start({.head_timeout = std::chrono::milliseconds(300), .keep_alive_max_count = 3});
    const std::string get = "GET / HTTP/1.1\r\n\r\n";
    const auto answers = [](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = text.find("200 OK"); at != std::string::npos;
             at = text.find("200 OK", at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(answers(send_request(port, get + get).second), 2u);
    EXPECT_EQ(answers(send_request(port, get + get + get + get).second), 3u);
    EXPECT_EQ(send_request(port, "GET / HT").first, 408);
    EXPECT_EQ(send_request(port, "").second, "");
}

TEST_F(Front, ClosesTheOldestWaitingConnectionBeyondItsLimit) {
    start({.head_timeout = std::chrono::seconds(10), .max_connections = 4});
    std::vector<int> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(connect_to(port));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(send_request(port, "GET / HTTP/1.1\r\nConnection: close\r\n\r\n").first, 200);
    for (std::size_t i = 0; i < idle.size(); ++i) {
        pollfd readable{idle[i], POLLIN, 0};
        char byte = 0;
        const bool closed = ::poll(&readable, 1, 200) == 1 && ::recv(idle[i], &byte, 1, 0) == 0;
        EXPECT_EQ(closed, i == 0) << i;
        ::close(idle[i]);
    }
}

// An upload's body is read whole, in as many pieces as it comes, and nothing past its length.
TEST_F(Front, ReadsAnUploadsBodyWithinItsDeadline) {
    start({.body_max_bytes = 10, .body_timeout = std::chrono::milliseconds(300)});
    const int fd = connect_to(port);
    const std::string head = "POST /replays HTTP/1.1\r\nContent-Length: 10\r\n";
    const std::string expecting = head + "Expect: 100-continue\r\n\r\n";
    ::send(fd, expecting.data(), expecting.size(), MSG_NOSIGNAL);
    char answer[256] = "";
    ASSERT_GT(::recv(fd, answer, sizeof answer - 1, 0), 0);
    EXPECT_STREQ(answer, "HTTP/1.1 100 Continue\r\n\r\n");
    ::send(fd, "01234", 5, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string rest = "56789GET / HTTP/1.1\r\nConnection: close\r\n\r\n";
    ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    const std::string both = read_all(fd);
    ::close(fd);
    EXPECT_NE(both.find("Body: 0123456789\r\n"), std::string::npos) << both;
    EXPECT_NE(both.find("Body: \r\n"), std::string::npos) << both;

    const auto [late, line] = send_request(port, head + "\r\n01234");
    EXPECT_EQ(std::pair(late, body_of(line)),
              std::pair(408, std::string("request body not complete in time\n")));
}

// Bodies under way hold their announced bytes until answered; beyond the bound a new upload is
// refused from its head.
TEST_F(Front, RefusesUploadsBeyondTheBytesHeldForBodies) {
    start({.body_max_bytes = 600, .bodies_max_bytes = 1000});
    const std::string head =
        "POST /replays HTTP/1.1\r\nContent-Length: 600\r\nConnection: close\r\n\r\n";
    const std::string body(600, 'b');
    const int slow = connect_to(port);
    ::send(slow, (head + body.substr(0, 300)).data(), head.size() + 300, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto [refused, answer] = send_request(port, head + body);
    EXPECT_EQ(std::pair(refused, body_of(answer)),
              std::pair(503, std::string("too many uploads under way, try again in a minute\n")));
    ::send(slow, body.data(), 300, MSG_NOSIGNAL);
    // Answered, then closed by the worker once it has let go of the body.
    EXPECT_TRUE(read_all(slow).starts_with("HTTP/1.1 200 OK"));
    ::close(slow);
    EXPECT_EQ(send_request(port, head + body).first, 200);
}

TEST(RequestHead, RefusesWhatCarriesABodyButAnUpload) {
    const front_limits limits{.header_max_count = 2, .body_max_bytes = 1000};
    const std::pair<const char*, int> heads[] = {
        {"GET /healthz HTTP/1.1\r\nHost: a\r\n\r\n", 0},
        {"HEAD / HTTP/1.0\r\n\r\n", 0},
        {"GET / HTTP/1.1\r\nContent-Length:  0 \r\n\r\n", 0},
        {"GET / HTTP/1.1\r\nContent-Length: 00\r\n\r\n", 413},
        {"GET / HTTP/1.1\r\nTRANSFER-ENCODING: identity\r\n\r\n", 413},
        {"GET / HTTP/1.1\r\nContent-Encoding:\r\n\r\n", 415},
        {"POST / HTTP/1.1\r\n\r\n", 405},
        {"OPTIONS * HTTP/1.1\r\n\r\n", 405},
        {"GET /\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nno colon\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\n: empty name\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", 431},
        {"POST /replays HTTP/1.1\r\nContent-Length: 1000\r\n\r\n", 0},
        {"POST /replays HTTP/1.1\r\ncontent-length: 0001001\r\n\r\n", 413},
        {"POST /replays HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", 413},
        {"POST /replays HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n", 400},
        {"POST /replays HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
        {"POST /replays HTTP/1.1\r\n\r\n", 411},
        {"POST /replays HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
        {"POST /replays HTTP/1.1\r\nContent-Length: 1\r\nExpect: x\r\n\r\n", 417},
        {"POST /replays HTTP/1.1\r\nContent-Length: 1\r\nContent-Type: Multipart/x\r\n\r\n", 415},
        {"POST /replays?x HTTP/1.1\r\n\r\n", 405},
        {"GET /replays HTTP/1.1\r\nContent-Length: 1\r\n\r\n", 413},
    };
    for (const auto& [head, status] : heads) {
        EXPECT_EQ(check_request_head(head, limits).status, status) << head;
    }
    const head_verdict post = check_request_head("POST /highscore.php HTTP/1.1\r\n\r\n", limits);
    EXPECT_EQ(std::pair(post.method, post.target),
              std::pair(std::string("POST"), std::string("/highscore.php")));
    const head_verdict upload = check_request_head(
        "POST /replays HTTP/1.1\r\nContent-Length: 012\r\nEXPECT: 100-Continue\r\n\r\n", limits);
    EXPECT_EQ(std::pair(upload.body_bytes, upload.expect_continue),
              std::pair(std::size_t{12}, true));
}

}  // namespace
