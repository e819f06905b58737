// SPDX-License-Identifier: MIT
#include "highscore_service.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "post_limiter.h"
#include "protocol.h"
#include "replay.h"
#include "request_front.h"

namespace {

using steady = std::chrono::steady_clock;

constexpr std::size_t target_max = 1024;
constexpr int leaderboard_size = 100;
constexpr std::string_view replay_path = "/replays/";
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

std::string utc_at(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string utc_days_ago(int days) {
    return utc_at(std::time(nullptr) - static_cast<std::time_t>(days) * 24 * 60 * 60);
}

// A replay's id: a 64-bit hash as 16 lower-case hex digits.
std::string hex_id(std::uint64_t hash) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

bool is_hex_id(std::string_view text) {
    return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
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

// Writes to a non-blocking socket within a deadline per answer.
bool send_all(int socket, const char* data, std::size_t size, steady::time_point deadline) {
    while (size > 0) {
        const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - steady::now()).count();
            pollfd writable{socket, POLLOUT, 0};
            if (left > 0 && ::poll(&writable, 1, static_cast<int>(left)) > 0) {
                continue;
            }
        }
        return false;
    }
    return true;
}

// What the HTTP library reads a request from and writes its answer to: the head and the body
// that the front read, then nothing; the answer goes to the connection's socket.
class head_stream : public httplib::Stream {
  public:
    head_stream(int socket, std::string_view head, std::string_view body, const std::string& peer,
                std::chrono::milliseconds write_timeout)
        : socket_(socket),
          head_(head),
          body_(body),
          peer_(peer),
          deadline_(steady::now() + write_timeout) {}

    bool is_readable() const override { return read_ < head_.size() + body_.size(); }
    bool is_writable() const override { return steady::now() < deadline_; }
    ssize_t read(char* ptr, std::size_t size) override {
        const std::string_view part =
            read_ < head_.size() ? head_.substr(read_) : body_.substr(read_ - head_.size());
        const std::size_t count = std::min(size, part.size());
        std::memcpy(ptr, part.data(), count);
        read_ += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(const char* ptr, std::size_t size) override {
        return send_all(socket_, ptr, size, deadline_) ? static_cast<ssize_t>(size) : -1;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = peer_;
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip.clear();
        port = 0;
    }
    socket_t socket() const override { return socket_; }

  private:
    int socket_;
    std::string_view head_;
    std::string_view body_;
    std::size_t read_ = 0;
    const std::string& peer_;
    steady::time_point deadline_;
};

// The HTTP library parses, routes and answers the requests that the front passes on; its own
// accept loop and request reading are not used.
class routing_server : public httplib::Server {
  public:
    ~routing_server() override {
        const socket_t socket = svr_sock_.exchange(INVALID_SOCKET);
        if (socket != INVALID_SOCKET) {
            ::close(socket);
        }
    }
    // The library listens with a backlog of 5, so a burst of new connections would overflow
    // the accept queue and the dropped ones retry only a second later. Listening again on the
    // bound socket raises the backlog; true when it did.
    bool raise_accept_backlog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
    int listening_socket() const { return svr_sock_; }

    // Answers the request in `head` and `body` on `socket`; true when the connection may stay
    // open.
    bool answer(int socket, std::string_view head, std::string_view body, const std::string& peer,
                bool last, std::chrono::milliseconds write_timeout) {
        head_stream stream(socket, head, body, peer, write_timeout);
        bool connection_closed = false;
        // The page and the JSON are small and made anew for each request: a Range header is
        // ignored and the whole answer sent, never a multipart one built from a list of ranges.
        const bool written = process_request(stream, last, connection_closed,
                                             [](httplib::Request& req) { req.ranges.clear(); });
        return written && !connection_closed && !last;
    }
};

// The scores in SQLite. Posts go through one connection; the leaderboard and the health probe
// read through connections of their own, which WAL lets run beside a write, so that neither
// waits behind posts. An in-memory database has one connection only.
class score_store {
  public:
    explicit score_store(const std::string& path) : writer_(open(path, false)) {
        // WAL with synchronous NORMAL: a committed post survives the process being killed;
        // only a power failure can take the last commits.
        exec(writer_, "PRAGMA journal_mode=WAL");
        exec(writer_, "PRAGMA synchronous=NORMAL");
        exec(writer_, "PRAGMA busy_timeout=5000");
        exec(writer_,
             "CREATE TABLE IF NOT EXISTS scores ("
             " id INTEGER PRIMARY KEY,"
             " name TEXT NOT NULL,"
             " score INTEGER NOT NULL,"
             " posted_utc TEXT NOT NULL,"
             " address TEXT NOT NULL,"
             " replay TEXT,"
             " UNIQUE (name, score))");
        // A database of the version before replays has no replay column: its scores stay,
        // unverified.
        if (!has_column(writer_, "scores", "replay")) {
            exec(writer_, "ALTER TABLE scores ADD COLUMN replay TEXT");
        }
        // Each replay that proved a score, by the hash of its frames; the hash of its outcome
        // is unique too, so that the same game with other irrelevant frame details is refused.
        exec(writer_,
             "CREATE TABLE IF NOT EXISTS replays ("
             " id TEXT PRIMARY KEY,"
             " outcome TEXT NOT NULL UNIQUE,"
             " score_id INTEGER NOT NULL REFERENCES scores (id),"
             " posted_utc TEXT NOT NULL,"
             " bytes BLOB NOT NULL)");
        exec(writer_, "CREATE INDEX IF NOT EXISTS scores_best ON scores (score DESC, id)");
        exec(writer_,
             "CREATE INDEX IF NOT EXISTS scores_verified ON scores (score DESC, id) "
             "WHERE replay IS NOT NULL");
        // Only the posts that still hold an address: the erasing finds them without a scan.
        exec(writer_,
             "CREATE INDEX IF NOT EXISTS scores_addressed ON scores (posted_utc) "
             "WHERE address != ''");
        if (path != ":memory:" && !path.empty()) {
            reader_own_.emplace(open(path, true));
            health_own_.emplace(open(path, true));
            exec(*reader_own_, "PRAGMA busy_timeout=5000");
            // Copying the log back into the database, and its fsync, happen on the maintenance
            // thread rather than in whichever post filled the log.
            checkpointer_.emplace(open(path, false));
            exec(writer_, "PRAGMA wal_autocheckpoint=0");
        }
    }
    score_store(const score_store&) = delete;
    score_store& operator=(const score_store&) = delete;

    // True when stored, false when the same name and score were there already; throws on a
    // database failure.
    bool add(const score_post& post, const std::string& address) {
        const std::lock_guard lock(writer_.mutex);
        statement insert(writer_.db,
                         "INSERT OR IGNORE INTO scores (name, score, posted_utc, address) "
                         "VALUES (?, ?, ?, ?)");
        const std::string posted = utc_at(std::time(nullptr));
        sqlite3_bind_text(insert.get(), 1, post.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert.get(), 2, post.score);
        sqlite3_bind_text(insert.get(), 3, posted.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert.get(), 4, address.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) {
            throw std::runtime_error(sqlite3_errmsg(writer_.db));
        }
        return sqlite3_changes(writer_.db) > 0;
    }

    // What storing a verified score came to.
    struct verified_result {
        enum class kind { stored, same_frames, same_game } what = kind::stored;
        std::string replay_id;  // the replay stored, or the one stored before with the same
        int rank = 0;           // on the board, when stored
    };

    // Stores a replay that holds and its score as verified, in one transaction: the same name
    // and score posted before become verified, and a verified one stays as it is (the replay
    // is still kept). Refused when its frames or its outcome are stored already.
    verified_result add_verified(const score_post& post, const std::string& address,
                                 const std::string& replay_id, const std::string& outcome,
                                 std::string_view bytes, bool verified_only) {
        const std::lock_guard lock(writer_.mutex);
        transaction write(writer_.db);
        {
            // The same frames first, when both are stored.
            statement seen(writer_.db,
                           "SELECT id, id = ?1 FROM replays WHERE id = ?1 OR outcome = ?2 "
                           "ORDER BY id = ?1 DESC LIMIT 1");
            sqlite3_bind_text(seen.get(), 1, replay_id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(seen.get(), 2, outcome.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(seen.get()) == SQLITE_ROW) {
                return {sqlite3_column_int(seen.get(), 1) != 0 ? verified_result::kind::same_frames
                                                               : verified_result::kind::same_game,
                        reinterpret_cast<const char*>(sqlite3_column_text(seen.get(), 0)), 0};
            }
        }
        const std::string posted = utc_at(std::time(nullptr));
        {
            statement insert(writer_.db,
                             "INSERT INTO scores (name, score, posted_utc, address, replay) "
                             "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (name, score) DO UPDATE "
                             "SET replay = ?5 WHERE replay IS NULL");
            sqlite3_bind_text(insert.get(), 1, post.name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert.get(), 2, post.score);
            sqlite3_bind_text(insert.get(), 3, posted.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert.get(), 4, address.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert.get(), 5, replay_id.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(insert.get()) != SQLITE_DONE) {
                throw std::runtime_error(sqlite3_errmsg(writer_.db));
            }
        }
        statement insert(writer_.db,
                         "INSERT INTO replays (id, outcome, score_id, posted_utc, bytes) "
                         "SELECT ?, ?, id, ?, ? FROM scores WHERE name = ? AND score = ?");
        sqlite3_bind_text(insert.get(), 1, replay_id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert.get(), 2, outcome.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert.get(), 3, posted.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert.get(), 4, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_text(insert.get(), 5, post.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert.get(), 6, post.score);
        if (sqlite3_step(insert.get()) != SQLITE_DONE || sqlite3_changes(writer_.db) != 1) {
            throw std::runtime_error(sqlite3_errmsg(writer_.db));
        }
        statement higher(writer_.db, verified_only
                                         ? "SELECT count(*) FROM scores WHERE score > ? AND "
                                           "replay IS NOT NULL"
                                         : "SELECT count(*) FROM scores WHERE score > ?");
        sqlite3_bind_int(higher.get(), 1, post.score);
        if (sqlite3_step(higher.get()) != SQLITE_ROW) {
            throw std::runtime_error(sqlite3_errmsg(writer_.db));
        }
        const int rank = 1 + sqlite3_column_int(higher.get(), 0);
        write.commit();
        return {verified_result::kind::stored, replay_id, rank};
    }

    // True when a replay with these frames is stored.
    bool has_replay(const std::string& replay_id) const {
        connection& reader = reader_own_ ? *reader_own_ : writer_;
        const std::lock_guard lock(reader.mutex);
        statement select(reader.db, "SELECT 1 FROM replays WHERE id = ?");
        sqlite3_bind_text(select.get(), 1, replay_id.c_str(), -1, SQLITE_TRANSIENT);
        const int step = sqlite3_step(select.get());
        if (step != SQLITE_ROW && step != SQLITE_DONE) {
            throw std::runtime_error(sqlite3_errmsg(reader.db));
        }
        return step == SQLITE_ROW;
    }

    // A stored replay's file, or nullopt.
    std::optional<std::string> replay_bytes(const std::string& replay_id) const {
        connection& reader = reader_own_ ? *reader_own_ : writer_;
        const std::lock_guard lock(reader.mutex);
        statement select(reader.db, "SELECT bytes FROM replays WHERE id = ?");
        sqlite3_bind_text(select.get(), 1, replay_id.c_str(), -1, SQLITE_TRANSIENT);
        const int step = sqlite3_step(select.get());
        if (step == SQLITE_DONE) {
            return std::nullopt;
        }
        if (step != SQLITE_ROW) {
            throw std::runtime_error(sqlite3_errmsg(reader.db));
        }
        const auto* data = static_cast<const char*>(sqlite3_column_blob(select.get(), 0));
        return std::string(data == nullptr ? "" : data,
                           static_cast<std::size_t>(sqlite3_column_bytes(select.get(), 0)));
    }

    std::vector<score_entry> top(int count, bool verified_only) const {
        return select_entries(verified_only
                                  ? "SELECT name, score, posted_utc, replay FROM scores "
                                    "WHERE replay IS NOT NULL ORDER BY score DESC, id LIMIT ?1"
                                  : "SELECT name, score, posted_utc, replay FROM scores "
                                    "ORDER BY score DESC, id LIMIT ?1",
                              count, "");
    }

    // Each player's best score once, best first. The outer walk follows the scores_best index
    // and stops at `count` players; the test for a better score by the same name is one seek in
    // the (name, score) index, so the page costs about `count` seeks however many are stored.
    std::vector<score_entry> best_per_player(int count, bool verified_only) const {
        return select_entries(
            verified_only ? "SELECT name, score, posted_utc, replay FROM scores AS s "
                            "WHERE replay IS NOT NULL AND NOT EXISTS (SELECT 1 FROM scores AS t "
                            "WHERE t.name = s.name AND t.score > s.score AND t.replay IS NOT NULL) "
                            "ORDER BY score DESC, id LIMIT ?1"
                          : "SELECT name, score, posted_utc, replay FROM scores AS s "
                            "WHERE NOT EXISTS (SELECT 1 FROM scores AS t "
                            "WHERE t.name = s.name AND t.score > s.score) "
                            "ORDER BY score DESC, id LIMIT ?1",
            count, "");
    }

    // One player's best `count` scores, best first.
    std::vector<score_entry> player_scores(const std::string& name, int count,
                                           bool verified_only) const {
        return select_entries(verified_only
                                  ? "SELECT name, score, posted_utc, replay FROM scores WHERE "
                                    "name = ?2 AND replay IS NOT NULL ORDER BY score DESC, id "
                                    "LIMIT ?1"
                                  : "SELECT name, score, posted_utc, replay FROM scores WHERE "
                                    "name = ?2 ORDER BY score DESC, id LIMIT ?1",
                              count, name);
    }

    // One row read from the file's schema page: the database answers, whatever its size.
    bool healthy() const {
        connection& health = health_own_ ? *health_own_ : writer_;
        const std::lock_guard lock(health.mutex);
        try {
            statement probe(health.db, "SELECT 1 FROM sqlite_schema WHERE name = 'scores'");
            return sqlite3_step(probe.get()) == SQLITE_ROW;
        } catch (const std::runtime_error&) {
            return false;
        }
    }

    // Empties the address of the posts stored before `cutoff_utc`, a few hundred rows per
    // transaction so that a post waits at most for one batch; returns how many.
    int erase_addresses_before(const std::string& cutoff_utc) {
        constexpr int batch = 500;
        int erased = 0;
        for (;;) {
            const std::lock_guard lock(writer_.mutex);
            statement erase(writer_.db,
                            "UPDATE scores SET address = '' WHERE id IN (SELECT id FROM scores "
                            "WHERE address != '' AND posted_utc < ? LIMIT ?)");
            sqlite3_bind_text(erase.get(), 1, cutoff_utc.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(erase.get(), 2, batch);
            if (sqlite3_step(erase.get()) != SQLITE_DONE) {
                throw std::runtime_error(sqlite3_errmsg(writer_.db));
            }
            const int changed = sqlite3_changes(writer_.db);
            erased += changed;
            if (changed < batch) {
                return erased;
            }
        }
    }

    // Copies the write-ahead log into the database without waiting for readers or writers;
    // false when it failed.
    bool checkpoint() {
        if (!checkpointer_) {
            return true;
        }
        const std::lock_guard lock(checkpointer_->mutex);
        const int result = sqlite3_wal_checkpoint_v2(checkpointer_->db, nullptr,
                                                     SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return result == SQLITE_OK || result == SQLITE_BUSY;
    }

  private:
    struct connection {
        sqlite3* db = nullptr;
        std::mutex mutex;
        explicit connection(sqlite3* db) : db(db) {}
        connection(const connection&) = delete;
        connection& operator=(const connection&) = delete;
        ~connection() { sqlite3_close(db); }
    };

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

    static sqlite3* open(const std::string& path, bool read_only) {
        sqlite3* db = nullptr;
        const int flags =
            read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
            const std::string reason = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
            sqlite3_close(db);
            throw std::runtime_error("cannot open database " + path + ": " + reason);
        }
        return db;
    }

    // Rolls back unless committed: a failed step leaves nothing half stored.
    class transaction {
      public:
        explicit transaction(sqlite3* db) : db_(db) {
            if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
                throw std::runtime_error(sqlite3_errmsg(db_));
            }
        }
        transaction(const transaction&) = delete;
        transaction& operator=(const transaction&) = delete;
        ~transaction() {
            if (!committed_) {
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            }
        }
        void commit() {
            if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
                throw std::runtime_error(sqlite3_errmsg(db_));
            }
            committed_ = true;
        }

      private:
        sqlite3* db_;
        bool committed_ = false;
    };

    // The rows of a query of name, score, posted_utc and replay, whose ?1 is the row limit and
    // ?2, when it has one, a player's name.
    std::vector<score_entry> select_entries(const char* sql, int count,
                                            const std::string& name) const {
        connection& reader = reader_own_ ? *reader_own_ : writer_;
        const std::lock_guard lock(reader.mutex);
        statement select(reader.db, sql);
        sqlite3_bind_int(select.get(), 1, count);
        if (sqlite3_bind_parameter_count(select.get()) >= 2) {
            sqlite3_bind_text(select.get(), 2, name.data(), static_cast<int>(name.size()),
                              SQLITE_TRANSIENT);
        }
        std::vector<score_entry> entries;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
            const auto* replay = sqlite3_column_text(select.get(), 3);
            entries.push_back({reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0)),
                               sqlite3_column_int(select.get(), 1),
                               reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 2)),
                               replay == nullptr ? "" : reinterpret_cast<const char*>(replay)});
        }
        if (step != SQLITE_DONE) {
            throw std::runtime_error(sqlite3_errmsg(reader.db));
        }
        return entries;
    }

    static bool has_column(connection& c, const char* table, const char* column) {
        statement probe(c.db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?");
        sqlite3_bind_text(probe.get(), 1, table, -1, SQLITE_STATIC);
        sqlite3_bind_text(probe.get(), 2, column, -1, SQLITE_STATIC);
        return sqlite3_step(probe.get()) == SQLITE_ROW;
    }

    static void exec(connection& c, const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(c.db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string reason = error != nullptr ? error : sqlite3_errmsg(c.db);
            sqlite3_free(error);
            throw std::runtime_error(std::string("database set-up failed: ") + reason);
        }
    }

    mutable connection writer_;
    mutable std::optional<connection> reader_own_;
    mutable std::optional<connection> health_own_;
    std::optional<connection> checkpointer_;
};

void answer_text(httplib::Response& res, int status, const std::string& line) {
    res.status = status;
    res.set_content(line + "\n", "text/plain; charset=utf-8");
}

// What a board shows: each player's best score, or one player's scores.
struct board_view {
    std::optional<std::string> player;
    bool verified_only = false;
    std::string homepage;
};

// The player that ?player=NAME asks for: none when absent or empty; an error line for a name
// that no player can have. The name is folded to small letters, as the game types it, and
// trimmed, as the board stores it; it is checked before it goes anywhere.
struct player_choice {
    std::optional<std::string> name;
    std::string error;
};

player_choice requested_player(const httplib::Request& req) {
    const std::string raw = req.get_param_value("player");
    if (raw.empty()) {
        return {};
    }
    std::string name = raw.size() <= static_cast<std::size_t>(player_name_max) ? raw : "";
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    if (!is_postable_name(name)) {
        return {std::nullopt, "a player's name is 1 to 16 of a-z, 0-9, space and _"};
    }
    return {std::string(trim_name(name)), ""};
}

// Equal scores share a rank, and the next score is ranked by the scores above it: 1, 2, 2, 4.
std::vector<int> shared_ranks(const std::vector<score_entry>& entries) {
    std::vector<int> ranks;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ranks.push_back(i > 0 && entries[i].score == entries[i - 1].score
                            ? ranks.back()
                            : static_cast<int>(i) + 1);
    }
    return ranks;
}

// "2026-12-07T20:15:03Z" as "7 Dec 2026"; a text of another form is kept as it is.
std::string readable_date(const std::string& utc) {
    static constexpr const char* months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto digits = [&](std::size_t from, std::size_t count) -> int {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (i >= utc.size() || utc[i] < '0' || utc[i] > '9') {
                return -1;
            }
            value = value * 10 + (utc[i] - '0');
        }
        return value;
    };
    const int year = digits(0, 4);
    const int month = digits(5, 2);
    const int day = digits(8, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || utc[4] != '-' ||
        utc[7] != '-') {
        return utc;
    }
    return std::to_string(day) + " " + months[month - 1] + " " + utc.substr(0, 4);
}

// A name as a query value: every byte but a-z, 0-9 and _ percent-encoded.
std::string query_value(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
            out += c;
        } else {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
            out += code;
        }
    }
    return out;
}

// The favicon: a red ball on the dark board.
constexpr std::string_view favicon_svg =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 32 32\">"
    "<rect width=\"32\" height=\"32\" rx=\"6\" fill=\"#111\"/>"
    "<rect x=\"3\" y=\"24\" width=\"26\" height=\"4\" rx=\"1\" fill=\"#ee3\"/>"
    "<circle cx=\"16\" cy=\"13\" r=\"10\" fill=\"#e33\"/>"
    "<circle cx=\"12.5\" cy=\"9.5\" r=\"3\" fill=\"#f99\"/></svg>\n";

std::string leaderboard_html(const std::vector<score_entry>& entries, const board_view& view) {
    const std::string player = view.player ? html_escape(*view.player) : "";
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>" +
        (view.player ? player + " &ndash; " : std::string()) +
        "Kulimbara high scores</title>\n"
        "<link rel=\"icon\" href=\"/favicon.svg\" type=\"image/svg+xml\">\n<style>\n"
        "body{font-family:sans-serif;margin:0 auto;max-width:40em;padding:1em;"
        "background:#111;color:#eee}\n"
        "h1{color:#e33;font-size:1.6em;margin:.3em 0}p{color:#bbb;line-height:1.4}\n"
        "table{width:100%;border-collapse:collapse}\n"
        "th,td{padding:.4em .3em;text-align:left;border-bottom:1px solid #333;"
        "white-space:nowrap}\n"
        "th{color:#999;font-weight:normal;font-size:.8em}\n"
        ".rank{color:#999;text-align:right}.score{text-align:right}td.score{color:#ee3}\n"
        "td.name{color:#3e3;width:100%;max-width:0;overflow:hidden;text-overflow:ellipsis}\n"
        "td.name a{color:#3e3;text-decoration:none}td.name a:hover{text-decoration:underline}\n"
        "td.when{color:#999;font-size:.8em}.proof a{text-decoration:none}\n"
        "a{color:#3ae}\n"
        "</style></head><body>\n<h1>Kulimbara high scores</h1>\n";
    const std::string game = view.homepage.empty()
                                 ? "Kulimbara"
                                 : "<a href=\"" + html_escape(view.homepage) + "\">Kulimbara</a>";
    const std::string which = view.verified_only ? "verified scores" : "scores";
    page += "<p>The online high-score board of " + game + ", the one-key 3D arcade game: " +
            (view.player ? "the best 100 " + which + " of <strong>" + player + "</strong>. " +
                               "<a href=\"/\">Every player&#39;s best</a></p>\n"
                         : "the best 100 " + which + ", each player&#39;s best once.</p>\n");
    if (entries.empty()) {
        page += view.player ? "<p>No scores by <strong>" + player + "</strong> yet.</p>\n"
                            : "<p>No scores yet.</p>\n";
        page += "</body></html>\n";
        return page;
    }
    page +=
        "<table><tr><th class=\"rank\">#</th><th>Name</th><th class=\"score\">Score</th>"
        "<th>Date</th><th class=\"proof\" title=\"verified by its replay\">&#10003;</th></tr>\n";
    const std::vector<int> ranks = shared_ranks(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const score_entry& e = entries[i];
        const std::string name = html_escape(e.name);
        const std::string shown =
            view.player ? name
                        : "<a href=\"/?player=" + query_value(e.name) + "\">" + name + "</a>";
        // The id is 16 hex digits, as stored by the service itself.
        const std::string replay =
            e.replay_id.empty() ? ""
                                : "<a href=\"" + std::string(replay_path) + e.replay_id +
                                      "\" title=\"verified: download its replay\">&#10003;</a>";
        const std::string when = html_escape(e.posted_utc);
        page += "<tr><td class=\"rank\">" + std::to_string(ranks[i]) +
                "</td><td class=\"name\" title=\"" + name + "\">" + shown +
                "</td><td class=\"score\">" + std::to_string(e.score) +
                "</td><td class=\"when\"><time datetime=\"" + when + "\" title=\"" + when + "\">" +
                html_escape(readable_date(e.posted_utc)) + "</time></td><td class=\"proof\">" +
                replay + "</td></tr>\n";
    }
    page +=
        "</table>\n<p>&#10003; marks a score that its replay proved; the mark downloads the "
        "replay. Dates are in UTC.</p>\n</body></html>\n";
    return page;
}

std::string leaderboard_json(const std::vector<score_entry>& entries) {
    std::string json = "[";
    const std::vector<int> ranks = shared_ranks(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const score_entry& e = entries[i];
        json += i == 0 ? "\n" : ",\n";
        json += "{\"rank\":" + std::to_string(ranks[i]) + ",\"name\":\"" + json_escape(e.name) +
                "\",\"score\":" + std::to_string(e.score) + ",\"posted\":\"" +
                json_escape(e.posted_utc) + "\",\"verified\":" +
                (e.replay_id.empty()
                     ? "false,\"replay\":null"
                     : "true,\"replay\":\"" + std::string(replay_path) + e.replay_id + "\"") +
                "}";
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
    if (!has_letter_or_digit(*name)) {
        return {std::nullopt, "name needs a letter or a digit"};
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
    // The check covers the name as typed; the board shows it without its outer spaces.
    return {score_post{std::string(trim_name(*name)), *score}, ""};
}

struct highscore_service::impl {
    explicit impl(const service_config& config)
        : config(config),
          store(config.db_path),
          limiter(config.posts_per_minute, config.max_tracked_addresses),
          front(
              front_limits{},
              [this](int socket, std::string_view head, std::string_view body,
                     const std::string& peer, bool last) {
                  return server.answer(socket, head, body, peer, last,
                                       front_limits{}.write_timeout);
              },
              [this](const std::string& peer, const head_verdict& verdict) {
                  if (this->config.log_requests) {
                      log_line(peer, verdict.status, verdict.method, verdict.target,
                               verdict.reason);
                  }
              }) {
        for (const std::string& proxy : config.trusted_proxies) {
            const std::optional<std::string> address = canonical_address(proxy);
            if (!address) {
                throw std::runtime_error("trusted proxy '" + proxy + "' is not an IP address");
            }
            trusted_proxies.push_back(*address);
        }
    }

    // The client's address: the proxy's X-Real-IP when the request comes from a loopback
    // address or a trusted proxy. The front gives the peer's address in canonical form.
    std::string client_address(const httplib::Request& req) const {
        const std::string& peer = req.remote_addr;
        const bool trusted =
            is_loopback(peer) || std::find(trusted_proxies.begin(), trusted_proxies.end(), peer) !=
                                     trusted_proxies.end();
        if (trusted && req.has_header("X-Real-IP")) {
            if (std::optional<std::string> forwarded =
                    canonical_address(req.get_header_value("X-Real-IP"))) {
                return *forwarded;
            }
        }
        return peer;
    }

    post_answer post(std::string_view target, const std::string& address) {
        if (config.require_replay) {
            return {403, "replay required"};
        }
        if (!limiter.admit(limit_key(address), steady::now())) {
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

    // Verifies a replay and stores it when it holds. The cheap checks come first and the
    // frames' own duplicate is refused before they are played; playing a whole game again
    // takes tens of milliseconds of one worker.
    post_answer post_replay(std::string_view bytes, const std::string& address) {
        const replay_read read = decode_replay(bytes);
        if (!read.result) {
            return {400, "bad replay file: " + read.error};
        }
        const replay& claimed = *read.result;
        if (const std::string why = implausibility(claimed); !why.empty()) {
            return {400, "replay refused: " + why};
        }
        if (!is_postable_name(claimed.player_name)) {
            return {400, claimed.player_name.empty()
                             ? "replay refused: the game names no player"
                             : "replay refused: name needs a letter or a digit"};
        }
        if (!limiter.admit(limit_key(address), steady::now())) {
            return {429, "too many posts from this address, try again in a minute"};
        }
        const std::string id = hex_id(frames_hash(claimed));
        try {
            if (store.has_replay(id)) {
                return {409, "replay " + id + " is stored already"};
            }
            const replay_outcome outcome = replay_game(claimed);
            const replay_verdict verdict = judge_replay(claimed, outcome);
            if (!verdict.holds) {
                return {400, "replay refused: " + verdict.reason};
            }
            const score_store::verified_result stored = store.add_verified(
                {std::string(trim_name(claimed.player_name)), outcome.total_score}, address, id,
                hex_id(outcome.outcome_hash()), bytes, config.require_replay);
            switch (stored.what) {
                case score_store::verified_result::kind::same_frames:
                    return {409, "replay " + id + " is stored already"};
                case score_store::verified_result::kind::same_game:
                    return {409, "the same game is stored already, as replay " + stored.replay_id};
                case score_store::verified_result::kind::stored:
                    break;
            }
            return {201, "{\"rank\":" + std::to_string(stored.rank) + ",\"id\":\"" + id + "\"}"};
        } catch (const std::runtime_error& e) {
            return {500, std::string("database error: ") + e.what()};
        }
    }

    static void log_line(const std::string& address, int status, std::string_view method,
                         std::string_view path, const std::string& reason) {
        std::fprintf(stderr, "%s %s %d %s %s %s\n", utc_at(std::time(nullptr)).c_str(),
                     address.c_str(), status, log_field(method).c_str(), log_field(path).c_str(),
                     reason.c_str());
    }

    void log(const httplib::Request& req, const httplib::Response& res) const {
        std::string reason = "-";
        if (res.get_header_value("Content-Type").starts_with("text/plain")) {
            reason = res.body.substr(0, res.body.find('\n'));
        }
        log_line(client_address(req), res.status, req.method, req.path, reason);
    }

    // The board's rows: one player's scores, or each player's best.
    std::vector<score_entry> board(const std::optional<std::string>& player) const {
        return player ? store.player_scores(*player, leaderboard_size, config.require_replay)
                      : store.best_per_player(leaderboard_size, config.require_replay);
    }

    void route() {
        server.set_payload_max_length(front_limits{}.body_max_bytes);
        server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            if (req.target.size() > target_max) {
                answer_text(res, 414, "request target over 1 KiB");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server.Get("/highscore.php", [this](const httplib::Request& req, httplib::Response& res) {
            // The library answers HEAD with its GET handler; only a GET posts.
            if (req.method != "GET") {
                res.set_header("Allow", "GET");
                answer_text(res, 405, "a score is posted with GET");
                return;
            }
            const post_answer answer = post(req.target, client_address(req));
            answer_text(res, answer.status, answer.line);
        });
        server.Post(std::string(upload_target),
                    [this](const httplib::Request& req, httplib::Response& res) {
                        const post_answer answer = post_replay(req.body, client_address(req));
                        if (answer.status == 201) {
                            res.status = 201;
                            res.set_content(answer.line, "application/json");
                        } else {
                            answer_text(res, answer.status, answer.line);
                        }
                    });
        server.Get(std::string(replay_path) + ".*",
                   [this](const httplib::Request& req, httplib::Response& res) {
                       const std::string id = req.path.substr(replay_path.size());
                       try {
                           const std::optional<std::string> bytes =
                               is_hex_id(id) ? store.replay_bytes(id) : std::nullopt;
                           if (!bytes) {
                               answer_text(res, 404, "no such replay");
                               return;
                           }
                           res.set_header("Content-Disposition",
                                          "attachment; filename=\"kulimbara-" + id + ".replay\"");
                           res.set_content(*bytes, "application/octet-stream");
                       } catch (const std::runtime_error& e) {
                           answer_text(res, 500, std::string("database error: ") + e.what());
                       }
                   });
        server.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
            const player_choice chosen = requested_player(req);
            if (!chosen.error.empty()) {
                answer_text(res, 400, chosen.error);
                return;
            }
            const board_view view{chosen.name, config.require_replay, config.homepage};
            try {
                res.set_content(leaderboard_html(board(view.player), view),
                                "text/html; charset=utf-8");
            } catch (const std::runtime_error& e) {
                answer_text(res, 500, std::string("database error: ") + e.what());
            }
        });
        server.Get("/scores.json", [this](const httplib::Request& req, httplib::Response& res) {
            const player_choice chosen = requested_player(req);
            if (!chosen.error.empty()) {
                answer_text(res, 400, chosen.error);
                return;
            }
            try {
                res.set_content(
                    leaderboard_json(chosen.name
                                         ? store.player_scores(*chosen.name, leaderboard_size,
                                                               config.require_replay)
                                         : store.top(leaderboard_size, config.require_replay)),
                    "application/json");
            } catch (const std::runtime_error& e) {
                answer_text(res, 500, std::string("database error: ") + e.what());
            }
        });
        server.Get("/favicon.svg", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "max-age=86400");
            res.set_content(std::string(favicon_svg), "image/svg+xml");
        });
        server.Get("/healthz", [this](const httplib::Request&, httplib::Response& res) {
            if (store.healthy()) {
                answer_text(res, 200, "ok");
            } else {
                answer_text(res, 503, "database does not answer");
            }
        });
        // An answer of the HTTP library's own (a path that nothing serves) gets a one-line
        // body like every other refusal.
        server.set_error_handler(httplib::Server::HandlerWithResponse(
            [](const httplib::Request&, httplib::Response& res) {
                if (!res.body.empty()) {
                    return httplib::Server::HandlerResponse::Unhandled;
                }
                answer_text(res, res.status, res.status == 404 ? "not found" : "request refused");
                return httplib::Server::HandlerResponse::Handled;
            }));
        if (config.log_requests) {
            server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
                log(req, res);
            });
        }
    }

    int erase_old_addresses() {
        return store.erase_addresses_before(utc_days_ago(config.keep_addresses_days));
    }

    // Off the request path: every few seconds forgets quiet addresses from the post limit and
    // checkpoints the database; every hour erases stored addresses past their days.
    void maintain() {
        constexpr auto sweep_interval = std::chrono::seconds(2);
        constexpr auto erase_interval = std::chrono::hours(1);
        steady::time_point next_erase = steady::now() + erase_interval;
        std::unique_lock lock(maintenance_mutex);
        while (!maintenance_ending) {
            maintenance_wake.wait_for(lock, sweep_interval);
            limiter.sweep(steady::now());
            if (!store.checkpoint()) {
                std::fprintf(stderr, "highscore service: checkpoint of the database failed\n");
            }
            if (steady::now() >= next_erase) {
                next_erase = steady::now() + erase_interval;
                try {
                    erase_old_addresses();
                } catch (const std::runtime_error& e) {
                    std::fprintf(stderr, "highscore service: cannot erase old addresses: %s\n",
                                 e.what());
                }
            }
        }
    }

    service_config config;
    std::vector<std::string> trusted_proxies;
    score_store store;
    post_limiter limiter;
    routing_server server;
    request_front front;
    std::atomic<bool> bound{false};
    std::mutex maintenance_mutex;
    std::condition_variable maintenance_wake;
    bool maintenance_ending = false;
    std::thread maintenance;
};

highscore_service::highscore_service(const service_config& config)
    : impl_(std::make_unique<impl>(config)) {
    impl_->route();
    impl_->erase_old_addresses();
    impl_->maintenance = std::thread([this] { impl_->maintain(); });
}

highscore_service::~highscore_service() {
    {
        const std::lock_guard lock(impl_->maintenance_mutex);
        impl_->maintenance_ending = true;
    }
    impl_->maintenance_wake.notify_all();
    impl_->maintenance.join();
}

int highscore_service::bind(const std::string& host, int port) {
    const int bound = port == 0 ? impl_->server.bind_to_any_port(host)
                                : (impl_->server.bind_to_port(host, port) ? port : -1);
    if (bound > 0 && !impl_->server.raise_accept_backlog()) {
        std::fprintf(stderr, "highscore service: cannot raise the accept backlog: %s\n",
                     std::strerror(errno));
    }
    impl_->bound = bound > 0;
    return bound;
}

bool highscore_service::listen() {
    if (!impl_->bound) {
        return false;
    }
    return impl_->front.serve(impl_->server.listening_socket());
}

void highscore_service::stop() {
    impl_->front.stop();
}

void highscore_service::wait_until_ready() const {
    while (!impl_->front.is_running() && !impl_->front.is_stopping()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

post_answer highscore_service::answer_post(std::string_view target, const std::string& address) {
    return impl_->post(target, canonical_address(address).value_or(address));
}

post_answer highscore_service::answer_replay(std::string_view bytes, const std::string& address) {
    return impl_->post_replay(bytes, canonical_address(address).value_or(address));
}

std::vector<score_entry> highscore_service::top(int count) const {
    return impl_->store.top(count, impl_->config.require_replay);
}

int highscore_service::erase_addresses_older_than(int days) {
    return impl_->store.erase_addresses_before(utc_days_ago(days));
}
