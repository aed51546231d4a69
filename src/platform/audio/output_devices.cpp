#include "platform/audio/output_devices.h"

#include "platform/audio/pulse_connection.h"

namespace ondaline::platform {

using pulse::PulseConnection;
using pulse::PulseLock;

struct OutputDevices::Private {
    std::function<void()> listener;  // under the mainloop lock
    std::unique_ptr<PulseConnection> connection;

    // Not from within the listener: it would wait for the listener's own
    // thread. Nor can the listener ask for the list, whose answer comes on
    // that same thread (it gets an empty one).
    ~Private()
    {
        // Ends the mainloop's thread while the listener still exists.
        connection.reset();
    }

    static void onEvent(pa_context*, pa_subscription_event_type_t event, std::uint32_t, void* userdata)
    {
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto kind = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility != PA_SUBSCRIPTION_EVENT_SINK || kind == PA_SUBSCRIPTION_EVENT_CHANGE) return;
        // A copy: the listener may replace itself.
        if (auto listener = static_cast<Private*>(userdata)->listener) listener();
    }
};

std::unique_ptr<OutputDevices> OutputDevices::connect(std::string& error)
{
    auto p = std::make_unique<Private>();
    p->connection = PulseConnection::open("Ondaline", error);
    if (!p->connection) return nullptr;
    const PulseConnection& connection = *p->connection;
    PulseLock lock(connection);
    pa_context_set_subscribe_callback(connection.context(), Private::onEvent, p.get());
    p->connection->setLostHandler([raw = p.get()] {
        if (auto listener = raw->listener) listener();
    });
    if (!connection.finish(pa_context_subscribe(connection.context(), PA_SUBSCRIPTION_MASK_SINK, nullptr, nullptr))) {
        error = "cannot follow the sound server's output devices: " + connection.lastError();
        return nullptr;
    }
    return std::unique_ptr<OutputDevices>(new OutputDevices(std::move(p)));
}

OutputDevices::OutputDevices(std::unique_ptr<Private> p) : private_(std::move(p)) {}

OutputDevices::~OutputDevices() = default;

std::vector<OutputDevice> OutputDevices::list()
{
    const PulseConnection& connection = *private_->connection;
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
    const PulseConnection& connection = *private_->connection;
    PulseLock lock(connection);
    return connection.defaultSinkName();
}

void OutputDevices::setChangeListener(std::function<void()> listener)
{
    PulseLock lock(*private_->connection);
    private_->listener = std::move(listener);
}

bool OutputDevices::isConnected() const
{
    PulseLock lock(*private_->connection);
    return private_->connection->isConnected();
}

}  // namespace ondaline::platform
