// kulimbara-post: posts a score through the game's own post code, for trying a high-score
// service. Exit status 0 when the service accepted the score, 1 when it did not, 2 for bad
// arguments.
#include <cstdio>
#include <optional>
#include <string>

#include "client.h"
#include "clock.h"
#include "option_parser.h"
#include "protocol.h"
#include "random.h"

namespace {

const option_parser parser("kulimbara-post",
                           "usage: kulimbara-post NAME SCORE [--host H] [--port P]\n");

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> name;
    std::optional<int> score;
    std::optional<std::string> host;
    std::optional<int> port;
    parser.parse(argc, argv,
                 {{"--host", true,
                   [&](const std::string& text) -> std::string {
                       host = text;
                       return text.empty() ? "--host needs a host name" : "";
                   }},
                  {"--port", true,
                   [&](const std::string& text) -> std::string {
                       const std::optional<long long> number = parse_decimal(text, 65535);
                       if (!number || *number < 1) {
                           return "--port takes a number from 1 to 65535, not '" + text + "'";
                       }
                       port = static_cast<int>(*number);
                       return "";
                   }}},
                 [&](const std::string& arg) -> std::string {
                     if (arg.starts_with("--")) {
                         return "unknown option " + arg;
                     }
                     if (!name) {
                         if (!is_valid_player_name(arg)) {
                             return "a name is 1 to 16 characters of a-z, 0-9, space and _, not '" +
                                    arg + "'";
                         }
                         name = arg;
                     } else if (!score) {
                         const std::optional<long long> number = parse_decimal(arg, 2147483647);
                         if (!number) {
                             return "a score is a whole number from 0, not '" + arg + "'";
                         }
                         score = static_cast<int>(*number);
                     } else {
                         return "unexpected argument '" + arg + "'";
                     }
                     return "";
                 });
    if (!name || !score) {
        parser.fail("needs a name and a score");
    }
    std::optional<highscore_endpoint> endpoint = configured_endpoint();
    if (!endpoint) {
        parser.fail("KULIMBARA_HIGHSCORE_URL is not of the form http://HOST[:PORT]");
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
