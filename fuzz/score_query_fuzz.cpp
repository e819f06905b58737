// SPDX-License-Identifier: MIT
// Feeds request targets to the high-score service's post handling, with a fresh in-memory
// database per input, and checks that every stored row is a valid post: a name of 1 to 16
// of a-z, 0-9, _ and space with a letter or digit, stored without its outer spaces, a score
// from 0 to the maximum, and a check field in its query that verifies. Each input line is one
// request target; a line "#NAME<TAB>SCORE<TAB>REST" is the query the game makes for that name and
// score (with a valid check field) followed by REST, so that mutations start from posts the service
// accepts. A line not starting with '/' gets "/highscore.php?" in front. The same lines also go to
// parse_decimal, which must agree with the standard library's reading of plain decimals.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "highscore_service.h"
#include "protocol.h"
#include "require.h"

namespace {

constexpr int max_score = 100000;
constexpr std::size_t target_max = 1024;  // longer targets are answered 414 before routing
constexpr std::size_t lines_max = 64;

using row_key = std::pair<std::string, int>;

// The value of parameter `key` in a raw query, as split by '&' and '='; the first one wins.
std::string_view parameter(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        const std::size_t end = query.find('&');
        const std::string_view part = query.substr(0, end);
        if (part.size() > key.size() && part.starts_with(key) && part[key.size()] == '=') {
            return part.substr(key.size() + 1);
        }
        if (end == std::string_view::npos) {
            break;
        }
        query.remove_prefix(end + 1);
    }
    return {};
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.substr(i, from.size()) == from) {
            out += to;
            i += from.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

// The stored row must be what the accepted query said, its name without the outer spaces, and
// the query's check must verify over the name as typed.
void check_stored(const row_key& row, std::string_view target) {
    const auto& [name, score] = row;
    REQUIRE(is_postable_name(name) && trim_name(name) == name);
    REQUIRE(score >= 0 && score <= max_score);
    const std::string_view query = target.substr(target.find('?') + 1);
    const std::string typed = replace_all(parameter(query, "name"), "%20", " ");
    REQUIRE(trim_name(typed) == name);
    REQUIRE(parameter(query, "score") == std::to_string(score));
    const std::string_view check = parameter(query, "check");
    std::string digits;
    for (std::size_t i = 0; i < check.size(); i += 2) {
        digits += check[i];
    }
    REQUIRE(digits == check_digits(typed, score));
}

// The name and score that an accepted target carries, read by the simple rules above.
row_key posted_row(std::string_view target) {
    const std::string_view query = target.substr(target.find('?') + 1);
    const std::string_view score_text = parameter(query, "score");
    int score = -1;
    const auto [end, error] =
        std::from_chars(score_text.data(), score_text.data() + score_text.size(), score);
    REQUIRE(error == std::errc() && end == score_text.data() + score_text.size());
    return {std::string(trim_name(replace_all(parameter(query, "name"), "%20", " "))), score};
}

std::set<row_key> stored_rows(const highscore_service& service) {
    std::set<row_key> rows;
    for (const score_entry& e : service.top(1000)) {
        rows.emplace(e.name, e.score);
    }
    return rows;
}

// A signed decimal read leniently, clamped to int: the score operand of a "#" line.
int lenient_int(std::string_view text) {
    long long value = 0;
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    i += negative ? 1 : 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 1LL << 32) {
            value = 1LL << 32;
        }
    }
    value = negative ? -value : value;
    return static_cast<int>(std::max<long long>(INT32_MIN, std::min<long long>(INT32_MAX, value)));
}

// The query's random characters; the service reads only the digits between them.
std::minstd_rand filler_random;

std::string target_of(std::string_view line) {
    if (line.starts_with('#')) {
        line.remove_prefix(1);
        const std::size_t tab = line.find('\t');
        const std::string_view name = line.substr(0, tab);
        std::string_view rest = tab == std::string_view::npos ? "" : line.substr(tab + 1);
        const std::size_t tab2 = rest.find('\t');
        const int score = lenient_int(rest.substr(0, tab2));
        const std::string_view suffix = tab2 == std::string_view::npos ? "" : rest.substr(tab2 + 1);
        return "/highscore.php?" +
               generate_params(name, score,
                               [] { return static_cast<int>(filler_random() % 32768); }) +
               std::string(suffix);
    }
    if (line.starts_with('/')) {
        return std::string(line);
    }
    return "/highscore.php?" + std::string(line);
}

void check_parse_decimal(std::string_view text) {
    for (const long long high : {0LL, static_cast<long long>(max_score), 9999999999LL}) {
        const std::optional<long long> parsed = parse_decimal(text, high);
        bool plain = !text.empty() && text.size() <= 10;
        for (const char c : text) {
            plain = plain && c >= '0' && c <= '9';
        }
        long long value = -1;
        if (plain) {
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), value);
            REQUIRE(error == std::errc() && end == text.data() + text.size());
        }
        if (plain && value <= high) {
            REQUIRE(parsed && *parsed == value);
        } else {
            REQUIRE(!parsed);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    highscore_service service(service_config{.db_path = ":memory:",
                                             .max_score = max_score,
                                             .posts_per_minute = 0,
                                             .log_requests = false});
    filler_random.seed(static_cast<std::uint32_t>(size));
    std::set<row_key> rows;
    std::size_t start = 0;
    for (std::size_t n = 0; n < lines_max && start <= input.size(); ++n) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        const std::string_view line = input.substr(start, end - start);
        start = end + 1;
        check_parse_decimal(line);

        const std::string target = target_of(line);
        if (target.size() > target_max) {
            continue;
        }
        const post_answer answer = service.answer_post(target, "127.0.0.1");
        REQUIRE(!answer.line.empty() && answer.line.find('\n') == std::string::npos);
        const std::set<row_key> now = stored_rows(service);
        if (answer.status == 200) {
            REQUIRE(answer.line == "stored" || answer.line == "already stored");
            REQUIRE(now.size() == rows.size() + (answer.line == "stored" ? 1 : 0));
            const row_key posted = posted_row(target);
            REQUIRE(now.contains(posted) && rows.contains(posted) == (answer.line != "stored"));
            check_stored(posted, target);
        } else {
            REQUIRE(answer.status == 400);
            REQUIRE(now == rows);
        }
        rows = now;
    }
    return 0;
}
