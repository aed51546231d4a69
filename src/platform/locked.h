#pragma once

#include <mutex>
#include <utility>

namespace ondaline::platform {

// A value that one thread replaces whole while others read copies of it.
template <typename T>
class Locked {
public:
    Locked() = default;
    explicit Locked(T value) : value_(std::move(value)) {}

    T get() const
    {
        std::lock_guard lock(mutex_);
        return value_;
    }

    void set(T value)
    {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

    template <typename Change>
    void update(Change&& change)
    {
        std::lock_guard lock(mutex_);
        change(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace ondaline::platform
