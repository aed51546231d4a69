// A player with a pause button, as media players have: paused, its stream
// stays on the sound server, corked, until it plays again.
//
//   ondaline-pausing-player NAME BINARY HZ [paused]
//
// plays a sine of HZ at a quarter of full scale (stereo float, 48 kHz) as
// the application NAME of the program BINARY, from the start or once told
// to play. Each line "pause" or "play" on its input corks or uncorks the
// stream, answered on its output with "paused" or "playing" once the
// server has done it; "ready" comes once the stream is there. It ends with
// its input.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <numbers>
#include <string>

namespace {

constexpr pa_sample_spec format{PA_SAMPLE_FLOAT32LE, 48000, 2};

struct Player {
    pa_threaded_mainloop* loop = nullptr;
    double step = 0;
    double phase = 0;
    bool done = false;  // of the last cork
};

void wake(void* player) { pa_threaded_mainloop_signal(static_cast<Player*>(player)->loop, 0); }

// All that is asked for: a server that waits for its buffer to fill before
// it plays (PulseAudio) asks for no more until then.
void fill(pa_stream* stream, std::size_t wanted, void* userdata)
{
    Player& player = *static_cast<Player*>(userdata);
    while (wanted >= 2 * sizeof(float)) {
        void* data = nullptr;
        std::size_t bytes = wanted;
        if (pa_stream_begin_write(stream, &data, &bytes) < 0 || !data) return;
        auto* samples = static_cast<float*>(data);
        const std::size_t frames = bytes / (2 * sizeof(float));
        for (std::size_t i = 0; i < frames; ++i, player.phase += player.step)
            samples[2 * i] = samples[2 * i + 1] = 0.25f * static_cast<float>(std::sin(player.phase));
        player.phase = std::fmod(player.phase, 2 * std::numbers::pi);
        if (pa_stream_write(stream, data, frames * 2 * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        wanted -= std::min(wanted, frames * 2 * sizeof(float));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::cerr << "usage: " << argv[0] << " NAME BINARY HZ [paused]\n";
        return 2;
    }
    Player player;
    player.step = 2 * std::numbers::pi * std::atof(argv[3]) / format.rate;
    const bool paused = argc > 4 && std::string(argv[4]) == "paused";
    player.loop = pa_threaded_mainloop_new();
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, argv[1]);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_PROCESS_BINARY, argv[2]);
    pa_context* context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(player.loop), argv[1], properties);
    pa_context_set_state_callback(
        context, [](pa_context*, void* p) { wake(p); }, &player);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return 1;
    pa_threaded_mainloop_lock(player.loop);
    pa_threaded_mainloop_start(player.loop);
    while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) && pa_context_get_state(context) != PA_CONTEXT_READY)
        pa_threaded_mainloop_wait(player.loop);
    pa_stream* stream = pa_stream_new_with_proplist(context, "Playback", &format, nullptr, properties);
    pa_stream_set_state_callback(
        stream, [](pa_stream*, void* p) { wake(p); }, &player);
    pa_stream_set_write_callback(stream, fill, &player);
    pa_stream_connect_playback(stream, nullptr, nullptr, paused ? PA_STREAM_START_CORKED : PA_STREAM_NOFLAGS, nullptr,
                               nullptr);
    while (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && pa_stream_get_state(stream) != PA_STREAM_READY)
        pa_threaded_mainloop_wait(player.loop);
    const bool ready = pa_stream_get_state(stream) == PA_STREAM_READY;
    pa_threaded_mainloop_unlock(player.loop);
    if (!ready) return 1;
    std::cout << "ready" << std::endl;

    for (std::string line; std::getline(std::cin, line);) {
        const bool pause = line == "pause";
        pa_threaded_mainloop_lock(player.loop);
        player.done = false;
        pa_operation* cork = pa_stream_cork(
            stream, pause,
            [](pa_stream*, int, void* p) {
                static_cast<Player*>(p)->done = true;
                wake(p);
            },
            &player);
        while (cork && !player.done && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            pa_threaded_mainloop_wait(player.loop);
        if (cork) pa_operation_unref(cork);
        pa_threaded_mainloop_unlock(player.loop);
        std::cout << (pause ? "paused" : "playing") << std::endl;
    }

    pa_threaded_mainloop_lock(player.loop);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    pa_context_disconnect(context);
    pa_threaded_mainloop_unlock(player.loop);
    pa_threaded_mainloop_stop(player.loop);
    pa_context_unref(context);
    pa_proplist_free(properties);
    pa_threaded_mainloop_free(player.loop);
    return 0;
}
