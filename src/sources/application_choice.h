#pragma once

// The application chosen for capture, and the rules that find it among
// those playing: the one the user picked, or after a restart the one of
// that binary and name, never another of the same name in its place.

#include "sources/audio_source_capture.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ondaline::sources {

struct ApplicationChoice {
    std::string binary;    // as the settings store it: the binary, else the application's name
    std::string name;      // the application's name; empty: any of that binary
    std::int32_t pid = 0;  // the process picked or last captured; 0 when not known (after a restart)
};

// Of that binary and name.
bool isOfChoice(const AudioSource& source, const ApplicationChoice& choice);

// How the picker names `source` among `all`: by its name, with its process
// where another of that name plays too.
std::string shownName(const AudioSource& source, const std::vector<AudioSource>& all);

// The picker's item for `choice` among `listed`: the process followed, else
// the only one of its binary and name; none where that is not one.
std::optional<std::size_t> chosenItem(const std::vector<AudioSource>& listed, const ApplicationChoice& choice);

// Follows the choice from one look at the server to the next.
class ApplicationTracker {
public:
    struct Decision {
        enum class Kind { capture, notPlaying, ambiguous };
        Kind kind = Kind::notPlaying;
        std::optional<AudioSource> source;  // to capture
        std::size_t matching = 0;           // applications of that binary and name that could be it
    };

    explicit ApplicationTracker(ApplicationChoice choice) : choice_(std::move(choice)) {}

    // `listed` as availableSources() gives it; `connected`, the processes
    // with a connection to the server. The process chosen is taken whenever
    // it plays (is listed and not paused). Once it has left the server, one
    // of that binary and name that came since may take its place, if it is
    // the only one playing; those seen beside it, or there at the first
    // look, paused or not, never do, so every change is to be shown, also
    // while the capture runs. With no process known, the only one of that
    // binary and name that plays is taken. What is taken is followed from
    // then on.
    Decision decide(const std::vector<AudioSource>& listed, const std::vector<std::int32_t>& connected);

    const ApplicationChoice& choice() const { return choice_; }

private:
    ApplicationChoice choice_;
    std::vector<std::int32_t> others_;  // of that binary and name, seen beside the one followed
    bool looked_ = false;
};

}  // namespace ondaline::sources
