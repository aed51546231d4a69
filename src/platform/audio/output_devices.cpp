#include "platform/audio/output_devices.h"

#include "platform/audio/pulse_connection.h"

namespace ondaline::platform {

using pulse::PulseConnection;
using pulse::PulseLock;

struct OutputDevices::Private {
    // Nor can the listener ask for the list, whose answer comes on its own
    // thread (it gets an empty one).
    std::unique_ptr<pulse::WatchedConnection> watched;
};

std::unique_ptr<OutputDevices> OutputDevices::connect(std::string& error)
{
    // Devices that come or go; their changes of volume and such are no news.
    auto watched = pulse::WatchedConnection::open(
        PA_SUBSCRIPTION_MASK_SINK,
        [](pa_subscription_event_type_t event) {
            return (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE;
        },
        error);
    if (!watched) return nullptr;
    return std::unique_ptr<OutputDevices>(new OutputDevices(std::make_unique<Private>(Private{std::move(watched)})));
}

OutputDevices::OutputDevices(std::unique_ptr<Private> p) : private_(std::move(p)) {}

OutputDevices::~OutputDevices() = default;

std::vector<OutputDevice> OutputDevices::list()
{
    const PulseConnection& connection = private_->watched->connection();
    PulseLock lock(connection);
    std::vector<OutputDevice> devices;
    const bool answered = connection.finish(pa_context_get_sink_info_list(
        connection.context(),
        [](pa_context*, const pa_sink_info* info, int eol, void* out) {
            if (eol != 0 || !info) return;
            static_cast<std::vector<OutputDevice>*>(out)->push_back({info->name,
                                                                     info->description ? info->description : info->name,
                                                                     info->index});
        },
        &devices));
    return answered ? devices : std::vector<OutputDevice>();
}

std::string OutputDevices::defaultDeviceUID()
{
    const PulseConnection& connection = private_->watched->connection();
    PulseLock lock(connection);
    return connection.defaultSinkName();
}

void OutputDevices::setChangeListener(std::function<void()> listener)
{
    private_->watched->setListener(std::move(listener));
}

bool OutputDevices::isConnected() const { return private_->watched->isConnected(); }

}  // namespace ondaline::platform
