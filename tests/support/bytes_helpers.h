#pragma once

#include "base/bytes.h"

#include <initializer_list>
#include <string_view>

namespace ondaline::test {

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

}  // namespace ondaline::test
