#include "base/amf0_value.h"

namespace ondaline {

std::optional<std::string> AMF0Value::stringValue() const
{
    if (const auto* text = std::get_if<std::string>(&value_)) return *text;
    return std::nullopt;
}

std::optional<double> AMF0Value::numberValue() const
{
    if (const auto* number = std::get_if<double>(&value_)) return *number;
    return std::nullopt;
}

const AMF0Value::Object* AMF0Value::objectValue() const { return std::get_if<Object>(&value_); }

}  // namespace ondaline
