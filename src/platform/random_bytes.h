#pragma once

#include <cstdint>
#include <span>

namespace ondaline::platform {

// Fills `out` from the system's cryptographic generator. Returns false (with
// `out` in an unspecified state) when the generator cannot deliver.
bool randomBytes(std::span<std::uint8_t> out);

}  // namespace ondaline::platform
