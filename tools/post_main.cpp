// kulimbara-post: posts a score through the game's own post code, for trying a high-score
// service. Exit status 0 when the service accepted the score, 1 when it did not, 2 for bad
// arguments.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "client.h"
#include "clock.h"
#include "protocol.h"
#include "random.h"

namespace {

constexpr const char* usage = "usage: kulimbara-post NAME SCORE [--host H] [--port P]\n";

[[noreturn]] void bad_usage(const std::string& problem) {
    std::fprintf(stderr, "kulimbara-post: %s\n%s", problem.c_str(), usage);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> name;
    std::optional<int> score;
    std::optional<std::string> host;
    std::optional<int> port;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                bad_usage(arg + " needs a value");
            }
            return argv[++i];
        };
        if (arg == "--host") {
            host = value();
            if (host->empty()) {
                bad_usage("--host needs a host name");
            }
        } else if (arg == "--port") {
            const std::string text = value();
            const std::optional<long long> number = parse_decimal(text, 65535);
            if (!number || *number < 1) {
                bad_usage("--port takes a number from 1 to 65535, not '" + text + "'");
            }
            port = static_cast<int>(*number);
        } else if (arg.starts_with("--")) {
            bad_usage("unknown option " + arg);
        } else if (!name) {
            if (!is_valid_player_name(arg)) {
                bad_usage("a name is 1 to 16 characters of a-z, 0-9, space and _, not '" + arg +
                          "'");
            }
            name = arg;
        } else if (!score) {
            const std::optional<long long> number = parse_decimal(arg, 2147483647);
            if (!number) {
                bad_usage("a score is a whole number from 0, not '" + arg + "'");
            }
            score = static_cast<int>(*number);
        } else {
            bad_usage("unexpected argument '" + arg + "'");
        }
    }
    if (!name || !score) {
        bad_usage("needs a name and a score");
    }
    std::optional<highscore_endpoint> endpoint = configured_endpoint();
    if (!endpoint) {
        bad_usage("KULIMBARA_HIGHSCORE_URL is not of the form http://HOST[:PORT]");
    }
    if (host) {
        endpoint->host = *host;
    }
    if (port) {
        endpoint->port = *port;
    }

    seed_random(clock_seed());
    score_post_worker worker(next_random);
    worker.start(*name, *score, *endpoint);
    const post_result result = worker.wait();
    std::printf("%s %s:%d: %s\n", result.success ? "posted to" : "not posted to",
                endpoint->host.c_str(), endpoint->port, result.detail.c_str());
    return result.success ? 0 : 1;
}
