// SPDX-License-Identifier: MIT
// The score post's protocol, shared by the game and the high-score service: the names a
// player may post, the check value and the query that carries them. Pure: no sockets, no
// threads, and the random characters of the query come from the caller's generator.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The longest name a player can type and post.
constexpr int player_name_max = 16;

// a-z, 0-9, space and _: the characters of a player's name.
bool is_name_character(char c);

// 1 to player_name_max name characters (a name of spaces alone included).
bool is_valid_player_name(std::string_view name);

// The name without its leading and trailing spaces: what a board shows and stores.
std::string_view trim_name(std::string_view name);

// True when the name holds a letter or a digit: a name of spaces and _ alone names nobody on a
// board, so the service refuses it and the game does not post it.
bool has_letter_or_digit(std::string_view name);

// A name a player may post: is_valid_player_name and has_letter_or_digit.
bool is_postable_name(std::string_view name);

// `value` with its bits a and b (0 to 7) exchanged.
unsigned char bit_swap(unsigned char value, int a, int b);

// One byte of a message mixed by the key material, the key and the byte's index.
unsigned char bit_mix(unsigned char value, int key, int idx);

// CRC-32/BZIP2 (polynomial 0x04C11DB7, register from all ones, unreflected, complemented).
std::uint32_t crc32_bzip2(std::string_view message);

// The CRC-32/BZIP2 of the message's bytes after bit_mix, byte i mixed with index i.
std::uint32_t check_code(std::string_view message, int key);

// The decimal check value of a post: check_code of "<score><name><~score>" (both numbers
// unsigned 32-bit decimals, the name as typed) keyed by the score.
std::string check_digits(std::string_view name, int score);

// The query "name=…&score=…&check=…": spaces in the name become %20, and every check digit
// is followed by one hexadecimal character, the next number from `random` (uniform integers
// from 0 to 32767, such as the game's next_random) modulo 16.
std::string generate_params(std::string_view name, int score, const std::function<int()>& random);

// A plain decimal of one to ten digits, from 0 to `high`; nullopt for anything else (signs,
// spaces, exponents, more digits).
std::optional<long long> parse_decimal(std::string_view text, long long high);
