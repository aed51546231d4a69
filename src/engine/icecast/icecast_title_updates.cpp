#include "engine/icecast/icecast_title_updates.h"

#include <utility>

namespace ondaline::icecast {

std::optional<TitleUpdates::Update> TitleUpdates::request(std::string song)
{
    if (onItsWay_) {
        waiting_ = std::move(song);
        return std::nullopt;
    }
    return start(std::move(song));
}

std::optional<TitleUpdates::Update> TitleUpdates::finished(std::uint64_t id)
{
    if (onItsWay_ != id) return std::nullopt;
    onItsWay_.reset();
    if (!waiting_) return std::nullopt;
    return start(*std::exchange(waiting_, std::nullopt));
}

void TitleUpdates::clear()
{
    onItsWay_.reset();
    waiting_.reset();
}

TitleUpdates::Update TitleUpdates::start(std::string song)
{
    onItsWay_ = ++lastId_;
    return {lastId_, std::move(song)};
}

}  // namespace ondaline::icecast
