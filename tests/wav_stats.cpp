// SPDX-License-Identifier: MIT
// What the sound device wrote, for the end-to-end test: the peak and RMS level of a WAV file
// (16-bit or float samples, any channel count), the samples at or past full scale, and, given
// the game's voice log ("SECONDS NAME GAIN" lines), whether each voice of the names asked for
// begins a loud onset in the file close to its time.
//
// Usage: wav_stats FILE.wav [LOG NAME...]. Prints "peak DBFS", "rms DBFS", "clipped N",
// "seconds S", then with a log "onsets FOUND OF", "latest_onset_ms MS" (the longest delay from
// a logged time to its onset) and a "missed SECONDS NAME GAIN" line for each
// voice without its onset. Exit status 2 for a file it cannot read.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

struct wav {
    int rate = 0;
    // Per frame, the largest magnitude over the channels: a voice is heard in either ear.
    std::vector<float> frames;
    double sum_squares = 0.0;
    long samples = 0;
    long clipped = 0;
};

// Reads the RIFF chunks up to the data; a data size that the writer never filled in (a
// process that ended without closing its device) counts as "to the end of the file".
bool read_wav(const char* path, wav& out) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return false;
    }
    int channels = 0;
    int bits = 0;
    bool is_float = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + at;
        const std::size_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && at + 8 + size <= bytes.size()) {
            const unsigned char* fmt = chunk + 8;
            std::uint16_t tag = le16(fmt);
            channels = le16(fmt + 2);
            out.rate = static_cast<int>(le32(fmt + 4));
            bits = le16(fmt + 14);
            if (tag == 0xFFFE && size >= 26) {
                tag = le16(fmt + 24);  // the extensible format's sub-format
            }
            is_float = tag == 3;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (channels <= 0 || out.rate <= 0 || !(is_float ? bits == 32 : bits == 16)) {
                return false;
            }
            const std::size_t end = std::min(bytes.size(), at + 8 + size);
            const std::size_t frame_bytes = static_cast<std::size_t>(channels) * (bits / 8);
            for (std::size_t f = at + 8; f + frame_bytes <= end; f += frame_bytes) {
                float loudest = 0.0f;
                for (int c = 0; c < channels; ++c) {
                    const unsigned char* s = bytes.data() + f + c * (bits / 8);
                    float v = 0.0f;
                    if (is_float) {
                        const std::uint32_t u = le32(s);
                        std::memcpy(&v, &u, sizeof v);
                    } else {
                        v = static_cast<float>(static_cast<std::int16_t>(le16(s))) / 32768.0f;
                    }
                    out.sum_squares += static_cast<double>(v) * v;
                    out.clipped += std::fabs(v) >= 1.0f ? 1 : 0;
                    ++out.samples;
                    loudest = std::max(loudest, std::fabs(v));
                }
                out.frames.push_back(loudest);
            }
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

double dbfs(double level) {
    return level > 0.0 ? 20.0 * std::log10(level) : -200.0;
}

// The peak of each hop of about 2 ms (a whole number of frames: hop_seconds(rate) long).
constexpr double hop_target_seconds = 0.002;

// A voice begins an onset when, between 10 ms before its logged time and 50 ms after, a hop is
// half again as loud as the loudest hop of the 40 ms before that window, and not buried in the
// floor. Returns how long after the logged time that hop begins, or nothing.
std::optional<double> onset_near(const std::vector<float>& hops, double hop_seconds,
                                 double seconds) {
    const auto hop = [hop_seconds](double s) {
        return static_cast<long>(std::floor(s / hop_seconds));
    };
    const long from = hop(seconds - 0.010);
    const long to = hop(seconds + 0.050);
    const long before = hop(seconds - 0.050);
    if (before < 0 || to >= static_cast<long>(hops.size())) {
        return std::nullopt;
    }
    const float floor = *std::max_element(hops.begin() + before, hops.begin() + from);
    for (long h = from; h <= to; ++h) {
        if (hops[h] >= 1.5f * floor && hops[h] >= 0.01f) {
            return static_cast<double>(h) * hop_seconds - seconds;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wav_stats FILE.wav [LOG NAME...]\n");
        return 2;
    }
    wav w;
    if (!read_wav(argv[1], w) || w.frames.empty()) {
        std::fprintf(stderr, "wav_stats: %s: not a WAV file of 16-bit or float samples\n", argv[1]);
        return 2;
    }
    const float peak = *std::max_element(w.frames.begin(), w.frames.end());
    std::printf("peak %.2f\nrms %.2f\nclipped %ld\nseconds %.2f\n", dbfs(peak),
                dbfs(std::sqrt(w.sum_squares / static_cast<double>(w.samples))), w.clipped,
                static_cast<double>(w.frames.size()) / w.rate);
    if (argc < 4) {
        return 0;
    }
    const long per_hop = std::lround(hop_target_seconds * w.rate);
    const double hop_seconds = static_cast<double>(per_hop) / w.rate;
    std::vector<float> hops;
    for (std::size_t f = 0; f < w.frames.size(); f += per_hop) {
        const auto end = w.frames.begin() + std::min(w.frames.size(), f + per_hop);
        hops.push_back(*std::max_element(w.frames.begin() + f, end));
    }
    const std::set<std::string> names(argv + 3, argv + argc);
    std::ifstream log(argv[2]);
    std::string line;
    int found = 0;
    double latest = -1.0;  // the longest delay from a logged time to its onset
    int asked = 0;
    std::vector<std::string> missed;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        double seconds = 0.0;
        std::string name;
        if (!(fields >> seconds >> name) || !names.contains(name)) {
            continue;
        }
        ++asked;
        if (const std::optional<double> delay = onset_near(hops, hop_seconds, seconds)) {
            ++found;
            latest = std::max(latest, *delay);
        } else {
            missed.push_back(line);
        }
    }
    std::printf("onsets %d %d\nlatest_onset_ms %.1f\n", found, asked, latest * 1000.0);
    for (const std::string& m : missed) {
        std::printf("missed %s\n", m.c_str());
    }
    return 0;
}
