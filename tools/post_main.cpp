// SPDX-License-Identifier: MIT
// kulimbara-post: posts a score, or a saved replay, through the game's own post code, for
// trying a high-score service. Exit status 0 when the service accepted it, 1 when it did not,
// 2 for bad arguments or a file that is no replay.
#include <cstdio>
#include <optional>
#include <string>

#include "client.h"
#include "clock.h"
#include "option_parser.h"
#include "protocol.h"
#include "random.h"
#include "replay.h"
#include "store.h"

namespace {

const option_parser parser(
    "kulimbara-post",
    "usage: kulimbara-post NAME SCORE [--host H] [--port P]\n"
    "       kulimbara-post --replay FILE [NAME] [--host H] [--port P]\n"
    "       kulimbara-post --help | --version\n",
    "Posts a name and score, or a saved game, to a Kulimbara high-score service, with the\n"
    "game's own code and check value. NAME is 1 to 16 of a-z, 0-9, space and _ (capitals\n"
    "are taken as small letters, as the game takes them); SCORE is a whole number from 0.\n"
    "\n"
    "  --replay FILE  post the replay FILE, with its name or NAME, as the game does\n"
    "  --host H       the host to post to (default: from KULIMBARA_HIGHSCORE_URL or the\n"
    "                 one chosen when the game was built)\n"
    "  --port P       the port to post to, 1 to 65535 (default 80)\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Prints one line: \"posted to HOST:PORT: ...\" and exits 0 when the service accepted\n"
    "the post; \"not posted to HOST:PORT: ...\", with the service's reason when it gave one,\n"
    "and exits 1 when not; exits 2 for bad arguments.\n");

// The name as the game takes it from the keyboard: capitals become small letters.
std::string lowered(std::string name) {
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> name;
    std::optional<int> score;
    std::optional<std::string> host;
    std::optional<int> port;
    std::optional<std::string> replay_path;
    parser.parse(argc, argv,
                 {{"--replay", true,
                   [&](const std::string& text) -> std::string {
                       replay_path = text;
                       return text.empty() ? "--replay needs a file name" : "";
                   }},
                  {"--host", true,
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
                     if (!name) {
                         if (!is_valid_player_name(lowered(arg))) {
                             return "a name is 1 to 16 characters of a-z, 0-9, space and _, not '" +
                                    arg + "'";
                         }
                         name = lowered(arg);
                     } else if (!score && !replay_path) {
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
    // A replay brings its score, and its name unless one is given.
    std::optional<std::string> replay_bytes;
    if (replay_path) {
        replay_read read = load_replay(*replay_path);
        if (!read.result) {
            std::fprintf(stderr, "kulimbara-post: %s\n", read.error.c_str());
            return 2;
        }
        if (name) {
            read.result->player_name = *name;
        }
        name = read.result->player_name;
        score = read.result->total_score;
        if (!is_postable_name(*name)) {
            parser.fail("the replay holds no name to post: give one");
        }
        replay_bytes = encode_replay(*read.result);
    }
    if (!name || !score) {
        parser.fail("needs a name and a score");
    }
    configured_board board = configured_endpoint();
    if (board.what == configured_board::setting::malformed) {
        parser.fail(board.problem);
    }
    if (board.what == configured_board::setting::none && !host) {
        parser.fail("no high-score board is set up: give --host or KULIMBARA_HIGHSCORE_URL");
    }
    highscore_endpoint* endpoint = &board.endpoint;
    if (host) {
        endpoint->host = *host;
    }
    if (port) {
        endpoint->port = *port;
    }

    seed_random(clock_seed());
    score_post_worker worker(next_random);
    worker.start(*name, *score, *endpoint, std::move(replay_bytes));
    const post_result result = worker.wait();
    const std::string rank = result.rank > 0 ? " (rank " + std::to_string(result.rank) + ")" : "";
    std::printf("%s %s:%d: %s%s\n", result.success ? "posted to" : "not posted to",
                endpoint->host.c_str(), endpoint->port, result.detail.c_str(), rank.c_str());
    return result.success ? 0 : 1;
}
