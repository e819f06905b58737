// SPDX-License-Identifier: MIT
// The voices played on the sound device, through OpenAL. The device is opened on a worker at
// start-up (a sound server may be slow to answer, or far away); until it is open, and for good
// when there is none, the game plays silently.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "director.h"
#include "synth.h"

class openal_sink final : public voice_sink {
  public:
    // The default device with the bank's sounds loaded, or nullptr with the reason in `why`.
    // The audio libraries' own messages are kept off standard error. Blocks while the device
    // opens.
    static std::unique_ptr<openal_sink> open(const sound_bank& bank, std::string& why);
    ~openal_sink() override;
    openal_sink(const openal_sink&) = delete;
    openal_sink& operator=(const openal_sink&) = delete;

    void play(sound_id id, int variant, float gain, std::optional<voice_position> at) override;
    void roll(int ball, float gain, float pitch, voice_position at) override;
    void stop_roll(int ball) override;
    void pause_play(bool paused) override;
    void set_muted(bool muted) override;

    // The voices sounding now: one-shots still playing and rolling voices that are heard.
    int voices_in_use() const;

    // Each one-shot voice started is written to `log` as "SECONDS NAME GAIN", SECONDS on the
    // device's own clock (samples mixed since it opened), so that a test can find the voice in
    // what the device wrote.
    void log_voices_to(std::FILE* log) { log_ = log; }

  private:
    struct device;
    explicit openal_sink(std::unique_ptr<device> d);
    std::unique_ptr<device> device_;
    std::FILE* log_ = nullptr;
};

// The sound as the game's shell sees it: the device opening on a worker, then the sink that
// the director's voices go to; voices before the device is open, or without one, are dropped.
class sound_output final : public voice_sink {
  public:
    // Starts synthesizing the sounds and opening the device on a worker.
    void start();
    // Takes the device once it is open; says once, on standard error, that there is none.
    void poll();
    // Closes the device (also on destruction); a worker still opening it is left to the process.
    void close();
    ~sound_output() override;

    void play(sound_id id, int variant, float gain, std::optional<voice_position> at) override;
    void roll(int ball, float gain, float pitch, voice_position at) override;
    void stop_roll(int ball) override;
    void pause_play(bool paused) override;
    void set_muted(bool muted) override;

  private:
    struct opening;
    std::shared_ptr<opening> opening_;
    std::unique_ptr<openal_sink> sink_;
    bool muted_ = false;
    std::FILE* log_ = nullptr;
};
