#include "platform/random_bytes.h"

#include <openssl/rand.h>

#include <climits>

namespace ondaline::platform {

bool randomBytes(std::span<std::uint8_t> out)
{
    // RAND_bytes takes an int count; hand it larger requests in pieces.
    while (!out.empty()) {
        const std::size_t n = out.size() < INT_MAX ? out.size() : INT_MAX;
        if (RAND_bytes(out.data(), static_cast<int>(n)) != 1) return false;
        out = out.subspan(n);
    }
    return true;
}

}  // namespace ondaline::platform
