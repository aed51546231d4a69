#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace ondaline {

// AMF0 type markers as they appear on the wire.
inline constexpr std::uint8_t amf0Number = 0x00;
inline constexpr std::uint8_t amf0Boolean = 0x01;
inline constexpr std::uint8_t amf0String = 0x02;
inline constexpr std::uint8_t amf0Object = 0x03;
inline constexpr std::uint8_t amf0Null = 0x05;
inline constexpr std::uint8_t amf0ObjectEnd = 0x09;
inline constexpr std::uint8_t amf0ECMAArray = 0x08;

// One decoded AMF0 value. Markers the reader does not decode come out as
// `unknown`.
class AMF0Value {
public:
    using Object = std::map<std::string, AMF0Value>;  // a repeated key keeps the last value

    enum class Kind { number, string, boolean, object, null, unknown };

    static AMF0Value number(double value) { return AMF0Value(value); }
    static AMF0Value string(std::string value) { return AMF0Value(std::move(value)); }
    static AMF0Value boolean(bool value) { return AMF0Value(value); }
    static AMF0Value object(Object value) { return AMF0Value(std::move(value)); }
    static AMF0Value null() { return AMF0Value(Null{}); }
    static AMF0Value unknown() { return AMF0Value(Unknown{}); }

    Kind kind() const { return static_cast<Kind>(value_.index()); }

    std::optional<std::string> stringValue() const;
    std::optional<double> numberValue() const;
    const Object* objectValue() const;  // null unless an object

    bool operator==(const AMF0Value&) const = default;

private:
    struct Null {
        bool operator==(const Null&) const = default;
    };
    struct Unknown {
        bool operator==(const Unknown&) const = default;
    };

    template <typename T>
    explicit AMF0Value(T value) : value_(std::move(value))
    {
    }

    // Alternatives in the order of Kind.
    std::variant<double, std::string, bool, Object, Null, Unknown> value_;
};

}  // namespace ondaline
