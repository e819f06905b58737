// SPDX-License-Identifier: MIT
#include "openal_sink.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Voices that may sound at once besides the rolling ones; a new one past these takes the place
// of the one started longest ago.
constexpr int one_shot_voices = 32;
// The rolling voices sit under the events: a desk full of rolling balls is a murmur.
constexpr float rolling_gain_scale = 0.3f;
// The whole mix, with headroom for the voices that pile up when balls crowd a gate.
constexpr float listener_gain = 0.7f;

extern "C" void quiet_alsa_error(const char*, int, const char*, int, const char*, ...) {}

// OpenAL reports its own troubles on standard error, and the ALSA library that it loads does
// the same for every device it probes and does not find: on a machine without a sound card
// that is a screenful. A player sees our one line instead. OpenAL reads its setting when a
// device is first opened; ALSA's handler holds for the library that OpenAL will load, which is
// this one (the handle stays open for that).
void quiet_audio_libraries_once() {
    setenv("ALSOFT_LOGLEVEL", "0", 0);
    if (void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL)) {
        using handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using set_handler = int (*)(handler);
        if (auto set = reinterpret_cast<set_handler>(dlsym(alsa, "snd_lib_error_set_handler"))) {
            set(quiet_alsa_error);
        }
    }
}

void quiet_audio_libraries() {
    static std::once_flag once;
    std::call_once(once, quiet_audio_libraries_once);
}

std::vector<std::int16_t> pcm16(const samples_t& samples) {
    std::vector<std::int16_t> pcm(samples.size());
    std::ranges::transform(samples, pcm.begin(), [](float s) {
        return static_cast<std::int16_t>(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f));
    });
    return pcm;
}

ALint state_of(ALuint source) {
    ALint state = AL_STOPPED;
    alGetSourcei(source, AL_SOURCE_STATE, &state);
    return state;
}

void place(ALuint source, std::optional<voice_position> at) {
    alSourcei(source, AL_SOURCE_RELATIVE, at ? AL_FALSE : AL_TRUE);
    const voice_position p = at.value_or(voice_position{});
    alSource3f(source, AL_POSITION, p.x, p.y, p.z);
}

}  // namespace

struct openal_sink::device {
    ALCdevice* dev = nullptr;
    ALCcontext* context = nullptr;
    std::array<ALuint, sound_count> buffers{};
    std::array<ALuint, chime_variants> chime_buffers{};

    struct voice {
        ALuint source = 0;
        bool of_play = false;
        bool held = false;  // paused with the play
        std::uint64_t started = 0;
    };
    std::vector<voice> one_shots;
    struct rolling_voice {
        ALuint source = 0;
        int ball = -1;  // -1: free, silent
        bool held = false;
        float gain = 0.0f;
    };
    std::vector<rolling_voice> rolls;
    std::uint64_t voices_started = 0;
    LPALCGETINTEGER64VSOFT device_clock = nullptr;

    ~device() {
        if (context != nullptr) {
            for (const voice& v : one_shots) {
                alSourceStop(v.source);
                alDeleteSources(1, &v.source);
            }
            for (const rolling_voice& r : rolls) {
                alSourceStop(r.source);
                alDeleteSources(1, &r.source);
            }
            alDeleteBuffers(static_cast<ALsizei>(buffers.size()), buffers.data());
            alDeleteBuffers(static_cast<ALsizei>(chime_buffers.size()), chime_buffers.data());
            alcMakeContextCurrent(nullptr);
            alcDestroyContext(context);
        }
        if (dev != nullptr) {
            alcCloseDevice(dev);
        }
    }

    ALuint buffer_of(sound_id id, int variant) const {
        return id == sound_id::chime ? chime_buffers.at(variant) : buffers.at(static_cast<int>(id));
    }

    double clock_seconds() const {
        ALCint64SOFT nanoseconds = 0;
        if (device_clock != nullptr) {
            device_clock(dev, ALC_DEVICE_CLOCK_SOFT, 1, &nanoseconds);
        }
        return static_cast<double>(nanoseconds) * 1e-9;
    }

    // A one-shot source that is free, or the one started longest ago.
    voice& free_voice() {
        auto free = std::ranges::find_if(one_shots, [](const voice& v) {
            const ALint state = state_of(v.source);
            return !v.held && (state == AL_STOPPED || state == AL_INITIAL);
        });
        if (free != one_shots.end()) {
            return *free;
        }
        return *std::ranges::min_element(one_shots, {}, &voice::started);
    }

    rolling_voice& rolling_voice_of(int ball) {
        auto found = std::ranges::find(rolls, ball, &rolling_voice::ball);
        if (found == rolls.end()) {
            found = std::ranges::find(rolls, -1, &rolling_voice::ball);
        }
        if (found != rolls.end()) {
            found->ball = ball;
            return *found;
        }
        rolling_voice& r = rolls.emplace_back();
        r.ball = ball;
        alGenSources(1, &r.source);
        alSourcei(r.source, AL_BUFFER,
                  static_cast<ALint>(buffers[static_cast<int>(sound_id::roll)]));
        alSourcei(r.source, AL_LOOPING, AL_TRUE);
        alSourcef(r.source, AL_GAIN, 0.0f);
        return r;
    }
};

std::unique_ptr<openal_sink> openal_sink::open(const sound_bank& bank, std::string& why) {
    quiet_audio_libraries();
    auto d = std::make_unique<device>();
    d->dev = alcOpenDevice(nullptr);
    if (d->dev == nullptr) {
        why = "no sound device";
        return nullptr;
    }
    d->context = alcCreateContext(d->dev, nullptr);
    if (d->context == nullptr || alcMakeContextCurrent(d->context) == ALC_FALSE) {
        why = "the sound device refused a context";
        return nullptr;
    }
    alGetError();
    auto load = [](ALuint buffer, const samples_t& samples) {
        const std::vector<std::int16_t> pcm = pcm16(samples);
        alBufferData(buffer, AL_FORMAT_MONO16, pcm.data(),
                     static_cast<ALsizei>(pcm.size() * sizeof(std::int16_t)), sound_sample_rate);
    };
    alGenBuffers(static_cast<ALsizei>(d->buffers.size()), d->buffers.data());
    alGenBuffers(static_cast<ALsizei>(d->chime_buffers.size()), d->chime_buffers.data());
    for (int i = 0; i < sound_count; ++i) {
        load(d->buffers[i], bank.sounds[i]);
    }
    for (int v = 0; v < chime_variants; ++v) {
        load(d->chime_buffers[v], bank.chimes[v]);
    }
    d->one_shots.resize(one_shot_voices);
    for (device::voice& v : d->one_shots) {
        alGenSources(1, &v.source);
    }
    if (const ALenum error = alGetError(); error != AL_NO_ERROR) {
        why = std::string("the sound device failed: ") + alGetString(error);
        return nullptr;
    }
    // The director places and weighs every voice itself: no fading with distance.
    alDistanceModel(AL_NONE);
    alListenerf(AL_GAIN, listener_gain);
    if (alcIsExtensionPresent(d->dev, "ALC_SOFT_device_clock") == ALC_TRUE) {
        d->device_clock = reinterpret_cast<LPALCGETINTEGER64VSOFT>(
            alcGetProcAddress(d->dev, "alcGetInteger64vSOFT"));
    }
    return std::unique_ptr<openal_sink>(new openal_sink(std::move(d)));
}

openal_sink::openal_sink(std::unique_ptr<device> d) : device_(std::move(d)) {}
openal_sink::~openal_sink() = default;

void openal_sink::play(sound_id id, int variant, float gain, std::optional<voice_position> at) {
    device::voice& v = device_->free_voice();
    alSourceStop(v.source);
    alSourcei(v.source, AL_BUFFER, static_cast<ALint>(device_->buffer_of(id, variant)));
    alSourcef(v.source, AL_GAIN, gain);
    place(v.source, at);
    alSourcePlay(v.source);
    v.of_play = at.has_value();
    v.held = false;
    v.started = ++device_->voices_started;
    if (log_ != nullptr) {
        std::fprintf(log_, "%.4f %s %.3f\n", device_->clock_seconds(), sound_name(id), gain);
    }
}

void openal_sink::roll(int ball, float gain, float pitch, voice_position at) {
    device::rolling_voice& r = device_->rolling_voice_of(ball);
    r.gain = gain;
    alSourcef(r.source, AL_GAIN, gain * rolling_gain_scale);
    alSourcef(r.source, AL_PITCH, pitch);
    alSource3f(r.source, AL_POSITION, at.x, at.y, at.z);
    if (!r.held && state_of(r.source) != AL_PLAYING) {
        alSourcePlay(r.source);
    }
}

// The loop keeps running silent until another ball takes it: stopping a loop mid-wave clicks,
// and the gain falls to zero smoothly.
void openal_sink::stop_roll(int ball) {
    auto found = std::ranges::find(device_->rolls, ball, &device::rolling_voice::ball);
    if (found != device_->rolls.end()) {
        alSourcef(found->source, AL_GAIN, 0.0f);
        found->gain = 0.0f;
        found->ball = -1;
    }
}

void openal_sink::pause_play(bool paused) {
    auto hold = [paused](ALuint source, bool& held) {
        if (paused && state_of(source) == AL_PLAYING) {
            alSourcePause(source);
            held = true;
        } else if (!paused && held) {
            alSourcePlay(source);
            held = false;
        }
    };
    for (device::voice& v : device_->one_shots) {
        if (v.of_play) {
            hold(v.source, v.held);
        }
    }
    for (device::rolling_voice& r : device_->rolls) {
        hold(r.source, r.held);
    }
}

void openal_sink::set_muted(bool muted) {
    alListenerf(AL_GAIN, muted ? 0.0f : listener_gain);
}

int openal_sink::voices_in_use() const {
    const auto playing = std::ranges::count_if(device_->one_shots, [](const device::voice& v) {
        return state_of(v.source) == AL_PLAYING;
    });
    const auto rolling = std::ranges::count_if(
        device_->rolls, [](const device::rolling_voice& r) { return r.ball >= 0 && r.gain > 0; });
    return static_cast<int>(playing + rolling);
}

struct sound_output::opening {
    std::mutex mutex;
    bool done = false;
    std::unique_ptr<openal_sink> sink;
    std::string why;
};

void sound_output::start() {
    // Before any other thread runs, as it changes the environment.
    quiet_audio_libraries();
    opening_ = std::make_shared<opening>();
    std::thread([o = opening_] {
        const sound_bank bank = synthesize_sounds();
        std::string why;
        std::unique_ptr<openal_sink> sink = openal_sink::open(bank, why);
        const std::lock_guard lock(o->mutex);
        o->sink = std::move(sink);
        o->why = std::move(why);
        o->done = true;
    }).detach();
}

void sound_output::poll() {
    if (!opening_) {
        return;
    }
    {
        const std::lock_guard lock(opening_->mutex);
        if (!opening_->done) {
            return;
        }
        sink_ = std::move(opening_->sink);
        if (!sink_) {
            std::fprintf(stderr, "kulimbara: %s: playing without sound\n", opening_->why.c_str());
        }
    }
    opening_.reset();
    if (!sink_) {
        return;
    }
    sink_->set_muted(muted_);
    if (const char* path = std::getenv("KULIMBARA_SOUND_LOG"); path != nullptr && *path != '\0') {
        log_ = std::fopen(path, "w");
        if (log_ == nullptr) {
            std::fprintf(stderr, "kulimbara: cannot write the sound log %s\n", path);
        }
        sink_->log_voices_to(log_);
    }
}

void sound_output::close() {
    sink_.reset();
    if (log_ != nullptr) {
        std::fclose(log_);
        log_ = nullptr;
    }
}

sound_output::~sound_output() {
    close();
}

void sound_output::play(sound_id id, int variant, float gain, std::optional<voice_position> at) {
    if (sink_) {
        sink_->play(id, variant, gain, at);
    }
}
void sound_output::roll(int ball, float gain, float pitch, voice_position at) {
    if (sink_) {
        sink_->roll(ball, gain, pitch, at);
    }
}
void sound_output::stop_roll(int ball) {
    if (sink_) {
        sink_->stop_roll(ball);
    }
}
void sound_output::pause_play(bool paused) {
    if (sink_) {
        sink_->pause_play(paused);
    }
}
void sound_output::set_muted(bool muted) {
    muted_ = muted;
    if (sink_) {
        sink_->set_muted(muted);
    }
}
