#include "support/peer_env.h"

#include <cstdlib>
#include <fstream>

namespace ondaline::test {

std::map<std::string, std::string> loadPeerEnv(const std::string& peer)
{
    const char* dir = std::getenv("ONDALINE_PEER_DIR");
    if (!dir) return {};
    return loadPeerEnvFrom(dir, peer);
}

std::string soundPeer()
{
    const char* peer = std::getenv("ONDALINE_SOUND_PEER");
    return peer && *peer ? peer : "pulse";
}

std::map<std::string, std::string> loadPeerEnvFrom(const std::string& peerDir, const std::string& peer)
{
    std::map<std::string, std::string> values;
    std::ifstream file(peerDir + "/" + peer + ".env");
    std::string line;
    while (std::getline(file, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos || line.starts_with('#')) continue;
        values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

}  // namespace ondaline::test
