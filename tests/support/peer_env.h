#pragma once

#include <map>
#include <optional>
#include <string>

namespace ondaline::test {

// The addresses and credentials a test peer wrote when it started:
// KEY=VALUE lines in $ONDALINE_PEER_DIR/<peer>.env. Empty when the peer is
// not running.
std::map<std::string, std::string> loadPeerEnv(const std::string& peer);

// The sound server the sound tests run against: "pulse" (PulseAudio), or
// what ONDALINE_SOUND_PEER names ("pipewire").
std::string soundPeer();

// The same from a peer folder of the test's own.
std::map<std::string, std::string> loadPeerEnvFrom(const std::string& peerDir, const std::string& peer);

}  // namespace ondaline::test
