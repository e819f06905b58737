// The high-score service on loopback: posts from the game's own client, the queries it
// refuses, the leaderboard and the post limit.
#include "highscore_service.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "hiscore.h"
#include "random.h"

namespace {

using namespace std::chrono_literals;

// A scratch folder of the test's own, removed afterwards.
class scratch_dir {
  public:
    scratch_dir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/kulimbara-service-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    ~scratch_dir() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    bool ok() const { return !path_.empty(); }

  private:
    std::string path_;
};

post_result post(int port, const std::string& query) {
    return send_data(query, {"127.0.0.1", port}, std::chrono::steady_clock::now() + 5s);
}

int status_of(const post_result& result) {
    // "HTTP/1.1 200 OK"
    return result.detail.size() >= 12 ? std::stoi(result.detail.substr(9, 3)) : 0;
}

class Service : public ::testing::Test {
  protected:
    scratch_dir scratch;
    std::unique_ptr<highscore_service> service;
    std::thread serving;
    int port = -1;
    int posts_per_minute = 0;

    void SetUp() override {
        ASSERT_TRUE(scratch.ok());
        service_config config;
        config.db_path = scratch.file("scores.sqlite");
        config.posts_per_minute = posts_per_minute;
        service = std::make_unique<highscore_service>(config);
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
    }

    httplib::Result get(const std::string& path, const httplib::Headers& headers = {}) {
        httplib::Client client("127.0.0.1", port);
        client.set_url_encode(false);
        client.set_connection_timeout(5);
        client.set_read_timeout(5);
        return client.Get(path, headers);
    }
};

TEST_F(Service, TheGamesPostReachesTheLeaderboard) {
    for (const auto& [name, score] : {std::pair<std::string, int>{"ada", 470},
                                      {"two words", 90},
                                      {"zero", 0},
                                      {"best_1", 1200}}) {
        score_post_worker worker;
        worker.start(name, score, {"127.0.0.1", port});
        const post_result result = worker.wait();
        EXPECT_TRUE(result.success) << name << ": " << result.detail;
    }
    // The same name and score again is accepted and stored once.
    EXPECT_EQ(status_of(post(port, generate_params("ada", 470))), 200);

    const std::vector<score_entry> top = service->top(100);
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[0].name, "best_1");
    EXPECT_EQ(top[1].name, "ada");
    EXPECT_EQ(top[2].name, "two words");
    EXPECT_EQ(top[3].score, 0);

    const httplib::Result json = get("/scores.json");
    ASSERT_TRUE(json);
    EXPECT_EQ(json->status, 200);
    const std::size_t best = json->body.find("\"name\":\"best_1\",\"score\":1200");
    const std::size_t spaced = json->body.find("\"name\":\"two words\",\"score\":90");
    const std::size_t zero = json->body.find("\"name\":\"zero\",\"score\":0");
    EXPECT_NE(best, std::string::npos) << json->body;
    EXPECT_LT(best, spaced);
    EXPECT_LT(spaced, zero);

    const httplib::Result page = get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("name=\"viewport\""), std::string::npos);
    EXPECT_LT(page->body.find("best_1"), page->body.find("two words"));

    const httplib::Result health = get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
}

TEST_F(Service, RefusesEveryMalformedPostAndStoresNothing) {
    const std::string valid = generate_params("ada b", 470);  // name=ada%20b&score=470&check=…
    const std::string check = valid.substr(valid.find("&check=") + 7);
    std::string wrong_digit = check;
    wrong_digit[0] = wrong_digit[0] == '9' ? '1' : static_cast<char>(wrong_digit[0] + 1);
    std::string upper_filler = check;
    upper_filler[1] = 'A';
    const std::string too_large = generate_params("ada", 100001);
    const std::string rest = "&score=470&check=" + check;
    struct row {
        std::string what;
        std::string query;
        int status;
    };
    const row rows[] = {
        {"wrong check digit", "name=ada%20b&score=470&check=" + wrong_digit, 400},
        {"missing name", "score=470&check=" + check, 400},
        {"missing check", "name=ada%20b&score=470", 400},
        {"no query", "", 400},
        {"repeated name", "name=ada%20b&name=ada%20b" + rest, 400},
        {"unknown parameter", valid + "&x=1", 400},
        {"empty parameter", valid + "&", 400},
        {"upper-case name", "name=Ada%20b" + rest, 400},
        {"17-character name", "name=" + std::string(17, 'a') + rest, 400},
        {"empty name", "name=" + rest, 400},
        {"plus for a space", "name=ada+b" + rest, 400},
        {"another escape", "name=ada%5fb" + rest, 400},
        {"broken escape", "name=ada%2" + rest, 400},
        {"negative score", "name=ada%20b&score=-470&check=" + check, 400},
        {"leading zero", "name=ada%20b&score=0470&check=" + check, 400},
        {"score over the maximum", too_large, 400},
        {"odd-length check", "name=ada%20b&score=470&check=" + check.substr(1), 400},
        {"upper-case check filler", "name=ada%20b&score=470&check=" + upper_filler, 400},
        {"oversize target", valid + "&pad=" + std::string(1100, 'x'), 414},
    };
    for (const row& r : rows) {
        const post_result result = post(port, r.query);
        EXPECT_EQ(status_of(result), r.status) << r.what << ": " << result.detail;
        EXPECT_FALSE(result.success) << r.what;
    }
    EXPECT_TRUE(service->top(100).empty());
    // The valid post it was all made from is accepted.
    EXPECT_EQ(status_of(post(port, valid)), 200);
}

class LimitedService : public Service {
  protected:
    LimitedService() { posts_per_minute = 10; }
};

TEST_F(LimitedService, LimitsPostsPerAddressAndTrustsTheLocalProxysAddress) {
    const httplib::Headers first = {{"X-Real-IP", "127.0.0.7"}};
    const httplib::Headers second = {{"X-Real-IP", "127.0.0.8"}};
    for (int i = 0; i < 10; ++i) {
        const httplib::Result answer =
            get("/highscore.php?" + generate_params("ada", 100 + i), first);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 200) << i;
    }
    const httplib::Result blocked = get("/highscore.php?" + generate_params("ada", 5), first);
    ASSERT_TRUE(blocked);
    EXPECT_EQ(blocked->status, 429);
    const httplib::Result other = get("/highscore.php?" + generate_params("ada", 5), second);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
    EXPECT_EQ(service->top(100).size(), 11u);
}

}  // namespace
