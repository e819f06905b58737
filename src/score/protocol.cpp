// SPDX-License-Identifier: MIT
#include "protocol.h"

#include "hiscore_key.h"

namespace {

constexpr char rand_chars[] = "0123456789abcdef";

std::uint32_t crc_step(std::uint32_t remainder, unsigned char byte) {
    remainder ^= static_cast<std::uint32_t>(byte) << 24;
    for (int bit = 0; bit < 8; ++bit) {
        if ((remainder & 0x80000000u) != 0) {
            remainder = (remainder << 1) ^ 0x04C11DB7u;
        } else {
            remainder = remainder << 1;
        }
    }
    return remainder;
}

}  // namespace

bool is_name_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '_';
}

bool is_valid_player_name(std::string_view name) {
    if (name.empty() || name.size() > static_cast<std::size_t>(player_name_max)) {
        return false;
    }
    for (const char c : name) {
        if (!is_name_character(c)) {
            return false;
        }
    }
    return true;
}

std::string_view trim_name(std::string_view name) {
    const std::size_t first = name.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

bool has_letter_or_digit(std::string_view name) {
    for (const char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            return true;
        }
    }
    return false;
}

bool is_postable_name(std::string_view name) {
    return is_valid_player_name(name) && has_letter_or_digit(name);
}

unsigned char bit_swap(unsigned char value, int a, int b) {
    const unsigned A_bit = (value >> a) & 1u;
    const unsigned B_bit = (value >> b) & 1u;
    unsigned v = value & ~((1u << a) | (1u << b));
    v |= (A_bit << b) | (B_bit << a);
    return static_cast<unsigned char>(v);
}

unsigned char bit_mix(unsigned char value, int key, int idx) {
    for (const bit_pair& p : fixed_bit_pairs) {
        value = bit_swap(value, p.a, p.b);
    }
    value = bit_swap(value, idx % 8, (idx + 4) % 8);
    for (const mixer_row& row : mixer) {
        if (key % row.divisor == 0) {
            value = bit_swap(value, row.a, row.b);
        }
    }
    return value;
}

std::uint32_t crc32_bzip2(std::string_view message) {
    std::uint32_t remainder = 0xFFFFFFFFu;
    for (const char c : message) {
        remainder = crc_step(remainder, static_cast<unsigned char>(c));
    }
    return ~remainder;
}

std::uint32_t check_code(std::string_view message, int key) {
    std::uint32_t remainder = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < message.size(); ++i) {
        remainder = crc_step(
            remainder, bit_mix(static_cast<unsigned char>(message[i]), key, static_cast<int>(i)));
    }
    return ~remainder;
}

std::string check_digits(std::string_view name, int score) {
    const auto unsigned_score = static_cast<std::uint32_t>(score);
    std::string check_input = std::to_string(unsigned_score);
    check_input += name;
    check_input += std::to_string(~unsigned_score);
    return std::to_string(check_code(check_input, score));
}

std::string generate_params(std::string_view name, int score, const std::function<int()>& random) {
    const std::string check_output = check_digits(name, score);
    std::string check_output_rand;
    for (const char digit : check_output) {
        check_output_rand += digit;
        check_output_rand += rand_chars[static_cast<unsigned>(random()) % 16u];
    }
    std::string escaped_name;
    for (const char c : name) {
        if (c == ' ') {
            escaped_name += "%20";
        } else {
            escaped_name += c;
        }
    }
    return "name=" + escaped_name + "&score=" + std::to_string(score) +
           "&check=" + check_output_rand;
}

std::optional<long long> parse_decimal(std::string_view text, long long high) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > high) {
        return std::nullopt;
    }
    return value;
}
