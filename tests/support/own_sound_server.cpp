#include "support/own_sound_server.h"

#include "support/peer_env.h"
#include "support/process.h"
#include "support/run_folder.h"

#include <filesystem>

namespace ondaline::test {

OwnSoundServer::OwnSoundServer(const std::vector<std::string>& sinks)
{
    static int count = 0;
    folder_ = (runFolder() / ("sound-server-" + std::to_string(count++))).string();
    std::filesystem::create_directories(folder_);
    std::string names;
    for (const std::string& sink : sinks) names += " " + shellQuote(sink);
    if (run("start", names)) environment_ = loadPeerEnvFrom(folder_, soundPeer());
}

OwnSoundServer::~OwnSoundServer()
{
    run("stop");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

bool OwnSoundServer::kill() { return run("kill"); }

bool OwnSoundServer::restart() { return run("restart"); }

bool OwnSoundServer::pause() { return run("pause"); }

bool OwnSoundServer::resume() { return run("resume"); }

bool OwnSoundServer::run(const std::string& action, const std::string& arguments)
{
    const std::string script = std::string(ONDALINE_PEER_SCRIPTS) + "/" + soundPeer();
    const CommandResult result = runCommand(shellQuote(script) + " " + action + " " + shellQuote(folder_) + arguments);
    output_ = result.output;
    return result.exitCode == 0;
}

}  // namespace ondaline::test
