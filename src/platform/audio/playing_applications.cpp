#include "platform/audio/playing_applications.h"

#include "platform/audio/pulse_connection.h"
#include "platform/audio/pulse_properties.h"
#include "platform/text.h"

#include <algorithm>

namespace ondaline::platform {

using pulse::PulseConnection;
using pulse::PulseLock;

namespace {

constexpr const char* clientName = "Ondaline";

struct Client {
    std::uint32_t index;
    std::int32_t pid;
};

// With the lock held.
bool listOn(const PulseConnection& connection, SoundServerApplications& into, std::string& error)
{
    std::vector<PlayingApplication> streams;  // one per sink input
    std::vector<Client> clients;
    const bool answered =
        connection.finish(pa_context_get_sink_input_info_list(
            connection.context(),
            [](pa_context*, const pa_sink_input_info* info, int eol, void* out) {
                if (eol != 0 || !info) return;
                PlayingApplication stream;
                // Shown, logged and kept as settings in its visible form.
                stream.name = withFormatCharactersShown(pulse::property(info->proplist, PA_PROP_APPLICATION_NAME));
                // Nobody could tell which application a nameless stream is.
                // One on no device yet (PipeWire lists a new stream a moment
                // before it links it) cannot be recorded.
                if (stream.name.empty() || info->sink == PA_INVALID_INDEX) return;
                stream.binary = pulse::property(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
                stream.pid = pulse::processId(info->proplist);
                stream.streams.push_back(info->index);
                stream.clients.push_back(info->client);
                stream.paused = info->corked;
                static_cast<std::vector<PlayingApplication>*>(out)->push_back(std::move(stream));
            },
            &streams)) &&
        connection.finish(pa_context_get_client_info_list(
            connection.context(),
            [](pa_context*, const pa_client_info* info, int eol, void* out) {
                if (eol == 0 && info)
                    static_cast<std::vector<Client>*>(out)->push_back({info->index, pulse::processId(info->proplist)});
            },
            &clients));
    if (!answered) {
        error = "the sound server did not list its playback streams: " + connection.lastError();
        return false;
    }
    into = {};
    for (const Client& client : clients)
        if (client.pid != 0) into.connectedProcesses.push_back(client.pid);
    for (auto& stream : streams) {
        // PipeWire's pulse service gives its own clients' streams (pw-play)
        // no process id; their connection has it.
        if (stream.pid == 0) {
            const auto client = std::find_if(clients.begin(), clients.end(),
                                             [&](const Client& c) { return c.index == stream.clients.front(); });
            if (client != clients.end()) stream.pid = client->pid;
        }
        auto known = std::find_if(into.playing.begin(), into.playing.end(), [&](const PlayingApplication& a) {
            return a.owns(stream.pid, stream.name, stream.clients.front());
        });
        if (known == into.playing.end()) {
            into.playing.push_back(std::move(stream));
            continue;
        }
        known->streams.push_back(stream.streams.front());
        known->paused = known->paused && stream.paused;
        if (std::find(known->clients.begin(), known->clients.end(), stream.clients.front()) == known->clients.end())
            known->clients.push_back(stream.clients.front());
    }
    return true;
}

}  // namespace

bool PlayingApplication::owns(std::int32_t streamPid, const std::string& streamName, std::uint32_t client) const
{
    if (streamName != name) return false;
    if (pid != 0 && streamPid != 0) return pid == streamPid;
    return std::find(clients.begin(), clients.end(), client) != clients.end();
}

std::vector<PlayingApplication> listPlayingApplications(std::string& error)
{
    auto connection = PulseConnection::open(clientName, error);
    if (!connection) return {};
    SoundServerApplications found;
    PulseLock lock(*connection);
    if (!listOn(*connection, found, error)) return {};
    return std::move(found.playing);
}

struct ApplicationsWatch::Private {
    std::unique_ptr<pulse::WatchedConnection> watched;
};

std::unique_ptr<ApplicationsWatch> ApplicationsWatch::open(std::string& error)
{
    // Streams and clients that come or go, and streams that change: PipeWire
    // links a new one to its device a moment after announcing it.
    auto watched = pulse::WatchedConnection::open(
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT),
        [](pa_subscription_event_type_t event) {
            return (event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK_INPUT ||
                   (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE;
        },
        error);
    if (!watched) return nullptr;
    return std::unique_ptr<ApplicationsWatch>(new ApplicationsWatch(std::make_unique<Private>(Private{
        std::move(watched)})));
}

ApplicationsWatch::ApplicationsWatch(std::unique_ptr<Private> p) : private_(std::move(p)) {}

ApplicationsWatch::~ApplicationsWatch() = default;

bool ApplicationsWatch::list(SoundServerApplications& into, std::string& error)
{
    const PulseConnection& connection = private_->watched->connection();
    PulseLock lock(connection);
    return listOn(connection, into, error);
}

void ApplicationsWatch::setChangeListener(std::function<void()> listener)
{
    private_->watched->setListener(std::move(listener));
}

bool ApplicationsWatch::listKeptOpen(std::unique_ptr<ApplicationsWatch>& watch, const std::function<void()>& onChange,
                                     SoundServerApplications& into)
{
    std::string error;
    if (!watch) {
        watch = open(error);
        if (!watch) return false;
        watch->setChangeListener(onChange);
    }
    if (watch->list(into, error)) return true;
    watch.reset();
    return false;
}

bool ApplicationsWatch::isConnected() const { return private_->watched->isConnected(); }

}  // namespace ondaline::platform
