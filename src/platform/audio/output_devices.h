#pragma once

// The sound server's output devices (sinks): the list, the default one, and
// a listener for devices being added or removed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ondaline::platform {

struct OutputDevice {
    std::string uid;   // the sink's name: stable across restarts
    std::string name;  // its description, for people
    std::uint32_t id = 0;
};

class OutputDevices {
public:
    // Null, with `error` set, when no sound server answers.
    static std::unique_ptr<OutputDevices> connect(std::string& error);
    ~OutputDevices();

    OutputDevices(const OutputDevices&) = delete;
    OutputDevices& operator=(const OutputDevices&) = delete;

    // The devices with output channels, in the server's order; empty when
    // the server cannot be asked.
    std::vector<OutputDevice> list();

    // The uid of the server's default output device; empty when unknown.
    std::string defaultDeviceUID();

    // Called on the sound server's thread each time a device is added or
    // removed (not for volume or other changes), and once more when the
    // server goes away, after which this object follows nothing any more.
    // Replaces an earlier one; after the destructor returns it is not
    // called any more.
    void setChangeListener(std::function<void()> listener);

    // Whether the server still answers; a new object follows it once it is
    // back.
    bool isConnected() const;

    struct Private;

private:
    explicit OutputDevices(std::unique_ptr<Private> p);
    std::unique_ptr<Private> private_;
};

}  // namespace ondaline::platform
