#include "highscore_service.h"

#include <httplib.h>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "client.h"
#include "protocol.h"
#include "random.h"

namespace {

class Service : public ::testing::Test {
  protected:
    std::string scratch = std::filesystem::temp_directory_path() / "kulimbara-service-XXXXXX";
    std::unique_ptr<highscore_service> service;
    std::thread serving;
    int port = -1;
    int posts_per_minute = 0;

    void SetUp() override {
        ASSERT_NE(::mkdtemp(scratch.data()), nullptr);
        service = std::make_unique<highscore_service>(service_config{
            .db_path = scratch + "/scores.sqlite", .posts_per_minute = posts_per_minute});
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
    int post(const std::string& query, const char* real_ip = "") {
        return get("/highscore.php?" + query, real_ip).first;
    }
};

TEST_F(Service, TheGamesPostReachesTheLeaderboard) {
    for (const auto& [name, score] :
         {std::pair<std::string, int>{"ada", 470}, {"two words", 0}, {"best_of_the_best", 1200}}) {
        score_post_worker worker(next_random);
        worker.start(name, score, {"127.0.0.1", port});
        const post_result result = worker.wait();
        EXPECT_TRUE(result.success) << name << ": " << result.detail;
    }
    // The same name and score again is accepted and stored once.
    EXPECT_EQ(post(generate_params("ada", 470, next_random)), 200);

    EXPECT_EQ(service->top(100).size(), 3u);
    const auto [json_status, json] = get("/scores.json");
    EXPECT_EQ(json_status, 200);
    EXPECT_EQ(json.find("[\n{\"rank\":1,\"name\":\"best_of_the_best\",\"score\":1200,"), 0u)
        << json;
    EXPECT_NE(json.find("{\"rank\":3,\"name\":\"two words\",\"score\":0,"), std::string::npos);
    const auto [page_status, page] = get("/");
    EXPECT_EQ(page_status, 200);
    EXPECT_LT(page.find("best_of_the_best"), page.find("two words"));
    EXPECT_EQ(get("/healthz").first, 200);
}

TEST_F(Service, RefusesEveryMalformedPostAndStoresNothing) {
    EXPECT_NE(get("/").second.find("No scores yet."), std::string::npos);
    const std::string valid =
        generate_params("ada b", 470, next_random);  // name=ada%20b&score=470&check=…
    const std::string check = valid.substr(valid.find("&check=") + 7);
    const std::string rest = "&score=470&check=" + check;
    const std::pair<const char*, std::string> refused[] = {
        {"check of another score", "name=ada%20b&score=471&check=" + check},
        {"missing check", "name=ada%20b&score=470"},
        {"no query", ""},
        {"repeated name", "name=ada%20b&name=ada%20b" + rest},
        {"unknown parameter", valid + "&x=1"},
        {"empty parameter", valid + "&"},
        {"upper-case name", "name=Ada%20b" + rest},
        {"17-character name", "name=" + std::string(17, 'a') + rest},
        {"empty name", "name=" + rest},
        {"plus for a space", "name=ada+b" + rest},
        {"another escape", "name=ada%5fb" + rest},
        {"broken escape", "name=ada%2" + rest},
        {"negative score", "name=ada%20b&score=-470&check=" + check},
        {"leading zero", "name=ada%20b&score=0470&check=" + check},
        {"score over the maximum", generate_params("ada", 100001, next_random)},
        {"odd-length check", "name=ada%20b&score=470&check=" + check.substr(1)},
        {"upper-case check filler", "name=ada%20b" + rest.substr(0, 18) + "A" + rest.substr(19)},
    };
    for (const auto& [what, query] : refused) {
        EXPECT_EQ(post(query), 400) << what;
    }
    // A space only as %20; no HTTP request line carries a raw one, so the check is asked directly.
    EXPECT_EQ(validate_score_query("name=ada b" + rest, 100000).reason,
              "name must be 1 to 16 of a-z, 0-9, %20 and _");
    EXPECT_EQ(get("/highscore.php?score=470&check=" + check),
              std::pair(400, std::string("missing parameter name\n")));
    EXPECT_EQ(post(valid + "&pad=" + std::string(1100, 'x')), 414);
    EXPECT_TRUE(service->top(100).empty());
    EXPECT_EQ(post(valid), 200);
}

TEST_F(Service, AnswersAPostWithoutASocketAsItDoesOverHttp) {
    const std::string valid = "/highscore.php?" + generate_params("ada", 470, next_random);
    const post_answer first = service->answer_post(valid, "192.0.2.1");
    EXPECT_EQ(std::pair(first.status, first.line), std::pair(200, std::string("stored")));
    EXPECT_EQ(get(valid), std::pair(200, std::string("already stored\n")));
    const post_answer bad = service->answer_post("/highscore.php?name=ada", "192.0.2.1");
    EXPECT_EQ(std::pair(bad.status, bad.line),
              std::pair(400, std::string("missing parameter score")));
    EXPECT_EQ(get("/highscore.php?name=ada"), std::pair(400, bad.line + "\n"));
    EXPECT_EQ(service->top(100).size(), 1u);
}

class LimitedService : public Service {
  protected:
    LimitedService() { posts_per_minute = 10; }
};

TEST_F(LimitedService, LimitsPostsPerAddressAndTrustsTheLocalProxysAddress) {
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(post(generate_params("ada", 100 + i, next_random), "127.0.0.7"), 200) << i;
    }
    EXPECT_EQ(post(generate_params("ada", 5, next_random), "127.0.0.7"), 429);
    EXPECT_EQ(post(generate_params("ada", 5, next_random), "127.0.0.8"), 200);
    EXPECT_EQ(service->top(100).size(), 11u);
}

// Bound but not yet serving, the service queues a burst of new connections: far more than the
// HTTP library's own backlog of 5 complete their handshake before anything accepts them. One
// beyond the backlog would not, however long it waited.
TEST(ServiceSocket, QueuesABurstOfConnectionsBeforeItServes) {
    highscore_service service(service_config{.db_path = ":memory:", .log_requests = false});
    const int port = service.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<pollfd> burst(32);
    for (pollfd& connection : burst) {
        connection = {::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), POLLOUT, 0};
        ASSERT_GE(connection.fd, 0);
        ::connect(connection.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int connected = 0;
    for (pollfd& connection : burst) {
        while (::poll(&connection, 1, 100) == 0 && std::chrono::steady_clock::now() < give_up) {
        }
        int error = -1;
        socklen_t length = sizeof error;
        ::getsockopt(connection.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        connected += (connection.revents & POLLOUT) != 0 && error == 0 ? 1 : 0;
        ::close(connection.fd);
    }
    EXPECT_EQ(connected, 32);
}

}  // namespace
