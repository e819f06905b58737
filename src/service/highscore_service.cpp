#include "highscore_service.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <sqlite3.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "protocol.h"

namespace {

using steady = std::chrono::steady_clock;

constexpr std::size_t target_max = 1024;
constexpr int leaderboard_size = 100;
// The name as posted: a space comes only as %20 (no other escape), and the decoded name must
// be one a player can type.
std::optional<std::string> decode_name(std::string_view raw) {
    std::string name;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%') {
            if (raw.substr(i, 3) != "%20") {
                return std::nullopt;
            }
            name += ' ';
            i += 2;
        } else if (raw[i] == ' ') {
            return std::nullopt;
        } else {
            name += raw[i];
        }
    }
    if (!is_valid_player_name(name)) {
        return std::nullopt;
    }
    return name;
}

std::optional<int> decode_score(std::string_view raw, int max_score) {
    if (raw.size() > 1 && raw[0] == '0') {
        return std::nullopt;
    }
    const std::optional<long long> value = parse_decimal(raw, max_score);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

// The digits at the even positions of a well-formed check field.
std::optional<std::string> check_field_digits(std::string_view raw) {
    if (raw.size() < 2 || raw.size() > 20 || raw.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string digits;
    for (std::size_t i = 0; i < raw.size(); i += 2) {
        const char digit = raw[i];
        const char filler = raw[i + 1];
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        if (!((filler >= '0' && filler <= '9') || (filler >= 'a' && filler <= 'f'))) {
            return std::nullopt;
        }
        digits += digit;
    }
    return digits;
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string html_escape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string json_escape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

// The HTTP library listens with a backlog of 5, so a burst of new connections overflows the
// accept queue and the dropped ones retry only a second later. Listening again on the bound
// socket raises the backlog; the library keeps that socket for its subclasses.
class backlog_server : public httplib::Server {
  public:
    // True when the backlog was raised on the socket that bind_to_port made.
    bool raise_accept_backlog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

// A request's own text made safe for a one-line log: control characters and spaces become '?',
// and the field is cut at 200 characters.
std::string log_field(std::string_view text) {
    std::string out(text.substr(0, 200));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) {
            c = '?';
        }
    }
    return out.empty() ? "-" : out;
}

bool is_ip_address(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// The scores, in one SQLite connection shared by the server's threads.
class score_store {
  public:
    explicit score_store(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw std::runtime_error("cannot open database " + path + ": " + reason);
        }
        // WAL with synchronous NORMAL: a committed post survives the process being killed;
        // only a power failure can take the last commits.
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        exec("PRAGMA busy_timeout=5000");
        exec(
            "CREATE TABLE IF NOT EXISTS scores ("
            " id INTEGER PRIMARY KEY,"
            " name TEXT NOT NULL,"
            " score INTEGER NOT NULL,"
            " posted_utc TEXT NOT NULL,"
            " address TEXT NOT NULL,"
            " UNIQUE (name, score))");
        exec("CREATE INDEX IF NOT EXISTS scores_best ON scores (score DESC, id)");
    }
    score_store(const score_store&) = delete;
    score_store& operator=(const score_store&) = delete;
    ~score_store() { sqlite3_close(db_); }

    // True when stored, false when the same name and score were there already; throws on a
    // database failure.
    bool add(const score_post& post, const std::string& address) {
        const std::lock_guard lock(mutex_);
        statement insert(db_,
                         "INSERT OR IGNORE INTO scores (name, score, posted_utc, address) "
                         "VALUES (?, ?, ?, ?)");
        const std::string posted = utc_now();
        sqlite3_bind_text(insert.get(), 1, post.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert.get(), 2, post.score);
        sqlite3_bind_text(insert.get(), 3, posted.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert.get(), 4, address.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) {
            throw std::runtime_error(sqlite3_errmsg(db_));
        }
        return sqlite3_changes(db_) > 0;
    }

    std::vector<score_entry> top(int count) const {
        const std::lock_guard lock(mutex_);
        statement select(db_,
                         "SELECT name, score, posted_utc FROM scores "
                         "ORDER BY score DESC, id LIMIT ?");
        sqlite3_bind_int(select.get(), 1, count);
        std::vector<score_entry> entries;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
            entries.push_back(
                {reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0)),
                 sqlite3_column_int(select.get(), 1),
                 reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 2))});
        }
        if (step != SQLITE_DONE) {
            throw std::runtime_error(sqlite3_errmsg(db_));
        }
        return entries;
    }

    bool healthy() const {
        const std::lock_guard lock(mutex_);
        try {
            statement probe(db_, "SELECT count(*) FROM scores");
            return sqlite3_step(probe.get()) == SQLITE_ROW;
        } catch (const std::runtime_error&) {
            return false;
        }
    }

  private:
    class statement {
      public:
        statement(sqlite3* db, const char* sql) {
            if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
                throw std::runtime_error(sqlite3_errmsg(db));
            }
        }
        statement(const statement&) = delete;
        statement& operator=(const statement&) = delete;
        ~statement() { sqlite3_finalize(stmt_); }
        sqlite3_stmt* get() const { return stmt_; }

      private:
        sqlite3_stmt* stmt_ = nullptr;
    };

    void exec(const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string reason = error != nullptr ? error : sqlite3_errmsg(db_);
            sqlite3_free(error);
            throw std::runtime_error(std::string("database set-up failed: ") + reason);
        }
    }

    sqlite3* db_ = nullptr;
    mutable std::mutex mutex_;
};

// Posts per client address over the last minute.
class post_limiter {
  public:
    explicit post_limiter(int per_minute) : per_minute_(per_minute) {}

    // True when the address may post now; the post is then counted.
    bool admit(const std::string& address) {
        if (per_minute_ <= 0) {
            return true;
        }
        const std::lock_guard lock(mutex_);
        const steady::time_point now = steady::now();
        const steady::time_point window_start = now - std::chrono::minutes(1);
        if (recent_.size() > sweep_threshold) {
            std::erase_if(recent_,
                          [&](const auto& entry) { return entry.second.back() < window_start; });
        }
        std::deque<steady::time_point>& times = recent_[address];
        while (!times.empty() && times.front() < window_start) {
            times.pop_front();
        }
        if (times.size() >= static_cast<std::size_t>(per_minute_)) {
            return false;
        }
        times.push_back(now);
        return true;
    }

  private:
    static constexpr std::size_t sweep_threshold = 10000;
    int per_minute_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::deque<steady::time_point>> recent_;
};

void answer_text(httplib::Response& res, int status, const std::string& line) {
    res.status = status;
    res.set_content(line + "\n", "text/plain; charset=utf-8");
}

std::string leaderboard_html(const std::vector<score_entry>& entries) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Kulimbara high scores</title>\n<style>\n"
        "body{font-family:sans-serif;margin:0 auto;max-width:36em;padding:1em;"
        "background:#111;color:#eee}\n"
        "h1{color:#e33;font-size:1.6em}table{width:100%;border-collapse:collapse}\n"
        "th,td{padding:.4em;text-align:left;border-bottom:1px solid #333}\n"
        "td.score{color:#ee3;text-align:right}th.score{text-align:right}\n"
        "td.name{color:#3e3;word-break:break-all}td.when{color:#999;font-size:.8em}\n"
        "</style></head><body>\n<h1>Kulimbara high scores</h1>\n";
    if (entries.empty()) {
        page += "<p>No scores yet.</p>\n";
    } else {
        page +=
            "<table><tr><th>#</th><th>Name</th><th class=\"score\">Score</th><th>Posted "
            "(UTC)</th></tr>\n";
        int rank = 0;
        for (const score_entry& e : entries) {
            page += "<tr><td>" + std::to_string(++rank) + "</td><td class=\"name\">" +
                    html_escape(e.name) + "</td><td class=\"score\">" + std::to_string(e.score) +
                    "</td><td class=\"when\">" + html_escape(e.posted_utc) + "</td></tr>\n";
        }
        page += "</table>\n";
    }
    page += "</body></html>\n";
    return page;
}

std::string leaderboard_json(const std::vector<score_entry>& entries) {
    std::string json = "[";
    int rank = 0;
    for (const score_entry& e : entries) {
        json += rank == 0 ? "\n" : ",\n";
        json += "{\"rank\":" + std::to_string(++rank) + ",\"name\":\"" + json_escape(e.name) +
                "\",\"score\":" + std::to_string(e.score) + ",\"posted\":\"" +
                json_escape(e.posted_utc) + "\"}";
    }
    json += "\n]\n";
    return json;
}

}  // namespace

query_verdict validate_score_query(std::string_view query, int max_score) {
    std::optional<std::string_view> fields[3];
    constexpr std::string_view keys[3] = {"name", "score", "check"};
    if (query.empty()) {
        return {std::nullopt, "no parameters"};
    }
    for (;;) {
        const std::size_t end = query.find('&');
        const std::string_view part = query.substr(0, end);
        const std::size_t equals = part.find('=');
        if (equals == std::string_view::npos) {
            return {std::nullopt, "parameter without a value"};
        }
        const std::string_view key = part.substr(0, equals);
        std::size_t k = 0;
        while (k < 3 && keys[k] != key) {
            ++k;
        }
        if (k == 3) {
            return {std::nullopt, "unknown parameter"};
        }
        if (fields[k]) {
            return {std::nullopt, "repeated parameter " + std::string(key)};
        }
        fields[k] = part.substr(equals + 1);
        if (end == std::string_view::npos) {
            break;
        }
        query.remove_prefix(end + 1);
    }
    for (std::size_t k = 0; k < 3; ++k) {
        if (!fields[k]) {
            return {std::nullopt, "missing parameter " + std::string(keys[k])};
        }
    }
    std::optional<std::string> name = decode_name(*fields[0]);
    if (!name) {
        return {std::nullopt, "name must be 1 to 16 of a-z, 0-9, %20 and _"};
    }
    const std::optional<int> score = decode_score(*fields[1], max_score);
    if (!score) {
        return {std::nullopt,
                "score must be a whole number from 0 to " + std::to_string(max_score)};
    }
    const std::optional<std::string> digits = check_field_digits(*fields[2]);
    if (!digits) {
        return {std::nullopt, "malformed check field"};
    }
    if (*digits != check_digits(*name, *score)) {
        return {std::nullopt, "wrong check value"};
    }
    return {score_post{std::move(*name), *score}, ""};
}

struct highscore_service::impl {
    explicit impl(const service_config& config)
        : config(config), store(config.db_path), limiter(config.posts_per_minute) {}

    // The client's address: the proxy's X-Real-IP when the request comes from the local proxy.
    static std::string client_address(const httplib::Request& req) {
        if (req.remote_addr == "127.0.0.1" && req.has_header("X-Real-IP")) {
            std::string forwarded = req.get_header_value("X-Real-IP");
            if (is_ip_address(forwarded)) {
                return forwarded;
            }
        }
        return req.remote_addr;
    }

    post_answer post(std::string_view target, const std::string& address) {
        if (!limiter.admit(address)) {
            return {429, "too many posts from this address, try again in a minute"};
        }
        const std::size_t question = target.find('?');
        const std::string_view query =
            question == std::string::npos ? std::string_view() : target.substr(question + 1);
        query_verdict verdict = validate_score_query(query, config.max_score);
        if (!verdict.post) {
            return {400, verdict.reason};
        }
        try {
            const bool stored = store.add(*verdict.post, address);
            return {200, stored ? "stored" : "already stored"};
        } catch (const std::runtime_error& e) {
            return {500, std::string("database error: ") + e.what()};
        }
    }

    void log(const httplib::Request& req, const httplib::Response& res) const {
        std::string reason = "-";
        if (res.get_header_value("Content-Type").starts_with("text/plain")) {
            reason = res.body.substr(0, res.body.find('\n'));
        }
        std::fprintf(stderr, "%s %s %d %s %s %s\n", utc_now().c_str(), client_address(req).c_str(),
                     res.status, log_field(req.method).c_str(), log_field(req.path).c_str(),
                     reason.c_str());
    }

    void route() {
        server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            if (req.target.size() > target_max) {
                answer_text(res, 414, "request target over 1 KiB");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server.Get("/highscore.php", [this](const httplib::Request& req, httplib::Response& res) {
            const post_answer answer = post(req.target, client_address(req));
            answer_text(res, answer.status, answer.line);
        });
        server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
            try {
                res.set_content(leaderboard_html(store.top(leaderboard_size)),
                                "text/html; charset=utf-8");
            } catch (const std::runtime_error& e) {
                answer_text(res, 500, std::string("database error: ") + e.what());
            }
        });
        server.Get("/scores.json", [this](const httplib::Request&, httplib::Response& res) {
            try {
                res.set_content(leaderboard_json(store.top(leaderboard_size)), "application/json");
            } catch (const std::runtime_error& e) {
                answer_text(res, 500, std::string("database error: ") + e.what());
            }
        });
        server.Get("/healthz", [this](const httplib::Request&, httplib::Response& res) {
            if (store.healthy()) {
                answer_text(res, 200, "ok");
            } else {
                answer_text(res, 503, "database does not answer");
            }
        });
        if (config.log_requests) {
            server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
                log(req, res);
            });
        }
    }

    service_config config;
    score_store store;
    post_limiter limiter;
    backlog_server server;
    std::atomic<bool> stop_requested{false};
    std::atomic<bool> listening{false};
};

highscore_service::highscore_service(const service_config& config)
    : impl_(std::make_unique<impl>(config)) {
    impl_->route();
}

highscore_service::~highscore_service() = default;

int highscore_service::bind(const std::string& host, int port) {
    const int bound = port == 0 ? impl_->server.bind_to_any_port(host)
                                : (impl_->server.bind_to_port(host, port) ? port : -1);
    if (bound > 0 && !impl_->server.raise_accept_backlog()) {
        std::fprintf(stderr, "highscore service: cannot raise the accept backlog: %s\n",
                     std::strerror(errno));
    }
    return bound;
}

bool highscore_service::listen() {
    impl_->listening = true;
    if (impl_->stop_requested) {
        impl_->listening = false;
        return true;
    }
    const bool served = impl_->server.listen_after_bind();
    impl_->listening = false;
    return served || impl_->stop_requested;
}

void highscore_service::stop() {
    impl_->stop_requested = true;
    // The server ignores a stop before it runs: wait for it to run, or for listen() to end.
    while (impl_->listening && !impl_->server.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    impl_->server.stop();
}

void highscore_service::wait_until_ready() const {
    while (!impl_->server.is_running() && !impl_->stop_requested) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

post_answer highscore_service::answer_post(std::string_view target, const std::string& address) {
    return impl_->post(target, address);
}

std::vector<score_entry> highscore_service::top(int count) const {
    return impl_->store.top(count);
}
