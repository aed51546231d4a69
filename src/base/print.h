#pragma once

// The diagnostic print every part of the program uses: the items go to
// standard output and, as one line without the terminator, to the activity
// log. Control characters in the items are shown as marks (see
// platform::withControlsShown), line breaks too unless the format keeps
// them, so that a file's name or text never drives the terminal or forges a
// line of its own.
//
//   print("Ondaline: State → ", "Live");                  // "a b" + "\n"
//   print(PrintFormat{.separator = "", .terminator = ""}, "a", 1);

#include <concepts>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace ondaline {

struct PrintFormat {
    std::string_view separator = " ";
    std::string_view terminator = "\n";
    bool keepLineBreaks = false;  // for an entry that is several lines by design
};

namespace detail {

// Decimal text of a double as the program has always written it: the
// shortest form that reads back exactly, with ".0" on whole numbers.
std::string describeDouble(double value);

template <typename T>
std::string describe(const T& item)
{
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return std::string(std::string_view(item));
    } else if constexpr (std::is_same_v<U, bool>) {
        return item ? "true" : "false";
    } else if constexpr (std::is_same_v<U, char>) {
        return std::string(1, item);
    } else if constexpr (std::is_integral_v<U>) {
        return std::to_string(item);
    } else if constexpr (std::is_floating_point_v<U>) {
        return describeDouble(static_cast<double>(item));
    } else {
        std::ostringstream text;
        text << item;
        return text.str();
    }
}

void emitLine(const std::string& message, const PrintFormat& format);

}  // namespace detail

// Queues `text` for standard output, in one piece, and returns at once: a
// reader that stops reading never holds up the caller (see StandardStream).
// The activity log is not touched.
void writeStandardOutput(std::string_view text);

// Keeps the process alive when the reader of its standard output goes away:
// without this, the next line written would end it, and the stream with it.
// Sockets send with MSG_NOSIGNAL on their own.
void ignoreBrokenPipeSignal();

template <typename... Items>
void print(PrintFormat format, const Items&... items)
{
    std::string message;
    [[maybe_unused]] bool first = true;
    [[maybe_unused]] auto add = [&](const std::string& text) {
        if (!first) message += format.separator;
        message += text;
        first = false;
    };
    (add(detail::describe(items)), ...);
    detail::emitLine(message, format);
}

template <typename... Items>
void print(const Items&... items)
{
    print(PrintFormat{}, items...);
}

}  // namespace ondaline
