#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ondaline::icecast {

// Which title update goes to the server next. One is on its way at a time,
// so a burst cannot exhaust the server's clients, and the newest title
// replaces one that waits: the last title asked for is the one that stays on
// air. Plain state with no lock; its owner keeps it on one queue.
class TitleUpdates {
public:
    struct Update {
        std::uint64_t id;  // never reused, so a forgotten update's end is told apart
        std::string song;
    };

    // The update to start now, or none while another is on its way (the
    // title then waits in place of any title that waited before it).
    std::optional<Update> request(std::string song);

    // Update `id` has ended, whatever its outcome. Gives the waiting title's
    // update, now on its way. An id that is not on its way changes nothing.
    std::optional<Update> finished(std::uint64_t id);

    // Forgets the waiting title and the update on its way; the latter's end,
    // when it comes, changes nothing.
    void clear();

private:
    Update start(std::string song);

    std::uint64_t lastId_ = 0;
    std::optional<std::uint64_t> onItsWay_;
    std::optional<std::string> waiting_;
};

}  // namespace ondaline::icecast
