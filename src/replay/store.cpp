// SPDX-License-Identifier: MIT
#include "store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <utility>

#include "game.h"

namespace {

constexpr std::string_view replay_suffix = ".replay";
constexpr std::string_view unfinished_suffix = "-unfinished";
// "YYYY-MM-DD_HH-MM-SS": sorts as the time does.
constexpr std::size_t stamp_length = 19;

std::string errno_text() {
    return std::strerror(errno);
}

// A name of ours: its start stamp and score; nullopt for any other name.
struct stored_replay {
    std::string name;
    std::string stamp;
    long long score = 0;
};

std::optional<stored_replay> parse_name(const std::string& name) {
    std::string_view rest(name);
    if (!rest.ends_with(replay_suffix)) {
        return std::nullopt;
    }
    rest.remove_suffix(replay_suffix.size());
    if (rest.ends_with(unfinished_suffix)) {
        rest.remove_suffix(unfinished_suffix.size());
    }
    constexpr std::string_view pattern = "dddd-dd-dd_dd-dd-dd_";
    if (rest.size() <= pattern.size() || rest.size() > pattern.size() + 9) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char want = i < pattern.size() ? pattern[i] : 'd';
        const bool digit = rest[i] >= '0' && rest[i] <= '9';
        if (want == 'd' ? !digit : rest[i] != want) {
            return std::nullopt;
        }
    }
    return stored_replay{name, name.substr(0, stamp_length),
                         std::atoll(std::string(rest.substr(pattern.size())).c_str())};
}

// Creates the folder and its missing parents.
bool make_folders(const std::string& folder, std::string& error) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + errno_text();
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = folder + " is not a folder";
        return false;
    }
    return true;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void prune(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        names.emplace_back(entry->d_name);
    }
    for (const std::string& name : replays_to_remove(names)) {
        ::unlink((folder + "/" + name).c_str());
    }
}

}  // namespace

std::optional<std::string> replay_folder() {
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home != nullptr && data_home[0] == '/') {
        return std::string(data_home) + "/kulimbara/replays";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/kulimbara/replays";
    }
    return std::nullopt;
}

std::string replay_file_name(const replay& r) {
    const auto start = static_cast<std::time_t>(r.start_utc);
    std::tm utc{};
    char stamp[64] = "";
    if (::gmtime_r(&start, &utc) == nullptr ||
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &utc) != stamp_length) {
        std::snprintf(stamp, sizeof stamp, "0000-00-00_00-00-00");
    }
    return std::string(stamp) + "_" + std::to_string(r.total_score) +
           (r.finished ? "" : std::string(unfinished_suffix)) + std::string(replay_suffix);
}

std::vector<std::string> replays_to_remove(const std::vector<std::string>& names, std::size_t best,
                                           std::size_t latest) {
    std::vector<stored_replay> ours;
    for (const std::string& name : names) {
        if (std::optional<stored_replay> stored = parse_name(name)) {
            ours.push_back(std::move(*stored));
        }
    }
    // The name breaks every tie, so the order does not depend on the folder's.
    auto later = [](const stored_replay& a, const stored_replay& b) {
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.name > b.name;
    };
    std::vector<bool> kept(ours.size(), false);
    std::vector<std::size_t> order(ours.size());
    auto keep_first = [&](std::size_t count, auto before) {
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return before(ours[a], ours[b]); });
        for (std::size_t i = 0; i < std::min(count, order.size()); ++i) {
            kept[order[i]] = true;
        }
    };
    keep_first(best, [&](const stored_replay& a, const stored_replay& b) {
        return a.score != b.score ? a.score > b.score : later(a, b);
    });
    keep_first(latest, later);
    std::vector<std::string> removed;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (!kept[i]) {
            removed.push_back(ours[i].name);
        }
    }
    return removed;
}

replay_save_result save_replay(const std::string& folder, const replay& r) {
    replay_save_result result;
    auto fail = [&](std::string what) {
        result.error = "cannot save the replay in " + folder + ": " + std::move(what);
        return result;
    };
    std::string error;
    if (!make_folders(folder, error)) {
        return fail(error);
    }
    const std::string bytes = encode_replay(r);
    std::string temporary = folder + "/.saving-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(errno_text());
    }
    // Readable as any other file of the user's; mkostemp made it private.
    const bool written = ::fchmod(fd, 0644) == 0 && write_all(fd, bytes) && ::fsync(fd) == 0;
    const std::string write_error = errno_text();
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.c_str());
        return fail(written ? errno_text() : write_error);
    }
    result.path = folder + "/" + replay_file_name(r);
    if (::rename(temporary.c_str(), result.path.c_str()) != 0) {
        const std::string rename_error = errno_text();
        ::unlink(temporary.c_str());
        return fail(rename_error);
    }
    // The rename itself reaches the disk with the folder.
    const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd >= 0) {
        ::fsync(folder_fd);
        ::close(folder_fd);
    }
    result.saved = true;
    prune(folder);
    return result;
}

replay_read load_replay(const std::string& path) {
    // Far beyond what the frame limit lets a file hold.
    constexpr std::size_t max_bytes = 64 << 20;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) {
        return {std::nullopt, "cannot read " + path + ": " + errno_text()};
    }
    std::string bytes;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        bytes.append(buffer, n);
        if (bytes.size() > max_bytes) {
            return {std::nullopt, path + ": too large for a replay"};
        }
    }
    if (std::ferror(file.get())) {
        return {std::nullopt, "cannot read " + path};
    }
    replay_read read = decode_replay(bytes);
    if (!read.result) {
        read.error = path + ": " + read.error;
    }
    return read;
}

struct replay_saver::shared_state {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<replay_save_result> result;
};

void replay_saver::start(std::optional<std::string> folder, replay r) {
    state_ = std::make_shared<shared_state>();
    if (!folder) {
        replay_save_result failed;
        failed.error = "cannot save the replay: neither XDG_DATA_HOME nor HOME is set";
        state_->result = std::move(failed);
        return;
    }
    std::thread([state = state_, folder = std::move(*folder), r = std::move(r)] {
        replay_save_result result = save_replay(folder, r);
        const std::lock_guard lock(state->mutex);
        state->result = std::move(result);
        state->done.notify_all();
    }).detach();
}

std::optional<replay_save_result> replay_saver::poll() {
    return wait(std::chrono::milliseconds(0));
}

std::optional<replay_save_result> replay_saver::wait(std::chrono::milliseconds bound) {
    if (!state_) {
        return std::nullopt;
    }
    std::unique_lock lock(state_->mutex);
    if (!state_->done.wait_for(lock, bound, [this] { return state_->result.has_value(); })) {
        return std::nullopt;
    }
    std::optional<replay_save_result> result = std::move(state_->result);
    lock.unlock();
    state_.reset();
    return result;
}

std::optional<replay> replay_save_trigger::after_frame(const replay_recorder& recorder,
                                                       const game& after,
                                                       const std::vector<frame_event>& events) {
    using state = replay_recorder::state;
    if (recorder.current() == state::recording) {
        saved_ = false;
        return std::nullopt;
    }
    if (saved_ || recorder.current() == state::idle) {
        return std::nullopt;
    }
    std::optional<std::string> name;
    for (const frame_event& event : events) {
        if (event.what == frame_event::kind::post_started) {
            name = event.text;
        }
    }
    if (!name && after.quit) {
        name = recorder.current() == state::finished
                   ? after.session.player_name.substr(
                         0, static_cast<std::size_t>(after.session.player_name_len))
                   : "";
    }
    if (!name) {
        return std::nullopt;
    }
    saved_ = true;
    replay r = recorder.recording();
    r.player_name = *name;
    return r;
}
