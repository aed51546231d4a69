#include "sources/application_choice.h"

#include "platform/text.h"

#include <algorithm>

namespace ondaline::sources {

namespace {

bool contains(const std::vector<std::int32_t>& pids, std::int32_t pid)
{
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

}  // namespace

bool isOfChoice(const AudioSource& source, const ApplicationChoice& choice)
{
    // A source without an identifier never matches.
    if (!source.bundleIdentifier || *source.bundleIdentifier != choice.binary) return false;
    // Names from the sound server come in their visible form; so does the
    // choice's, whatever settings file it came from.
    return choice.name.empty() || source.name == platform::withFormatCharactersShown(choice.name);
}

std::string shownName(const AudioSource& source, const std::vector<AudioSource>& all)
{
    const auto namesakes = std::count_if(all.begin(), all.end(),
                                         [&](const AudioSource& s) { return s.name == source.name; });
    if (namesakes < 2) return source.name;
    return source.name + " (process " + std::to_string(source.id) + ")";
}

std::optional<std::size_t> chosenItem(const std::vector<AudioSource>& listed, const ApplicationChoice& choice)
{
    std::optional<std::size_t> only;
    std::size_t matching = 0;
    for (std::size_t k = 0; k < listed.size(); ++k) {
        if (!isOfChoice(listed[k], choice)) continue;
        if (choice.pid != 0 && listed[k].id == choice.pid) return k;
        only = k;
        ++matching;
    }
    if (choice.pid != 0 || matching != 1) return std::nullopt;
    return only;
}

ApplicationTracker::Decision ApplicationTracker::decide(const std::vector<AudioSource>& listed,
                                                        const std::vector<std::int32_t>& connected)
{
    // Paused ones count as there, never as playing.
    std::vector<const AudioSource*> matches;
    for (const AudioSource& source : listed)
        if (isOfChoice(source, choice_)) matches.push_back(&source);

    const auto take = [&](const AudioSource& source) {
        choice_.pid = source.id;
        return Decision{Decision::Kind::capture, source, 1};
    };
    if (choice_.pid != 0) {
        const auto chosen = std::find_if(matches.begin(), matches.end(),
                                         [&](const AudioSource* match) { return match->id == choice_.pid; });
        const bool present = chosen != matches.end() || contains(connected, choice_.pid);
        // Those beside it, or already there when it was picked, are others.
        if (present || !looked_) {
            for (const AudioSource* match : matches)
                if (match->id != choice_.pid && !contains(others_, match->id)) others_.push_back(match->id);
        }
        looked_ = true;
        // Still there, and only quiet when not playing: nothing takes its place.
        if (present) return chosen != matches.end() && !(*chosen)->isPaused ? take(**chosen) : Decision{};
        std::erase_if(matches, [&](const AudioSource* match) { return contains(others_, match->id); });
    }
    std::erase_if(matches, [](const AudioSource* match) { return match->isPaused; });
    if (matches.size() == 1) return take(*matches.front());
    if (matches.empty()) return {};
    return {Decision::Kind::ambiguous, std::nullopt, matches.size()};
}

}  // namespace ondaline::sources
