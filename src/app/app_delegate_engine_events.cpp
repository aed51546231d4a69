// The engine's reports, turned into the dashboard's looks.

#include "app/app_delegate.h"

#include "app/status_line.h"
#include "base/print.h"
#include "engine/ondaline_delegate.h"

#include <functional>

namespace ondaline::app {

namespace {

// The engine's delegate. Each report but the statistics becomes one more
// main-thread item, so the looks change on a later turn and in report
// order, and only while the controller still exists.
class EngineEvents final : public OndalineDelegate {
public:
    EngineEvents(TestAppDelegate& controller, std::shared_ptr<platform::MainExecutor> mainExecutor)
        : controller_(&controller), mainExecutor_(std::move(mainExecutor))
    {
    }

    void ondalineDidConnect(Ondaline&) override
    {
        later([](TestAppDelegate& controller) { controller.engineDidConnect(); });
    }
    void ondalineDidDisconnect(Ondaline&) override
    {
        later([](TestAppDelegate& controller) { controller.engineDidDisconnect(); });
    }
    void ondalineDidChangeState(Ondaline&, StreamState state) override
    {
        later([state](TestAppDelegate& controller) { controller.engineDidChangeState(state); });
    }
    void ondalineDidEncounterError(Ondaline&, const std::string& message, NoticeKind kind) override
    {
        later([message, kind](TestAppDelegate& controller) { controller.engineDidEncounterError(message, kind); });
    }
    // Statistics show nowhere.

private:
    void later(std::function<void(TestAppDelegate&)> work)
    {
        mainExecutor_->post([controller = controller_, work = std::move(work)] {
            if (controller) work(*controller);
        });
    }

    const QPointer<TestAppDelegate> controller_;
    const std::shared_ptr<platform::MainExecutor> mainExecutor_;
};

}  // namespace

std::shared_ptr<OndalineDelegate> TestAppDelegate::makeEngineEvents(
    TestAppDelegate& controller, std::shared_ptr<platform::MainExecutor> mainExecutor)
{
    return std::make_shared<EngineEvents>(controller, std::move(mainExecutor));
}

void TestAppDelegate::engineDidConnect()
{
    setConnectedUI();
    sendNowPlayingOnAir();  // once per go-live; the publishing state report only repeats the look
}

void TestAppDelegate::engineDidDisconnect() { setDisconnectedUI(); }

void TestAppDelegate::engineDidChangeState(StreamState state)
{
    switch (state) {
    case StreamState::publishing:
        setConnectedUI();
        break;
    case StreamState::error:
    case StreamState::idle:
        setDisconnectedUI();
        break;
    case StreamState::connecting:
    case StreamState::handshaking:
    case StreamState::negotiating:
    case StreamState::disconnecting:
        showConnecting();
        break;
    }
}

void TestAppDelegate::engineDidEncounterError(const std::string& message, NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::retrying:
    case NoticeKind::unhealthy:  // still live, but the reconnect follows all the same
        // The message stays on the line with a Stop button while the engine
        // retries; a ticking uptime clock would write over it.
        stopUptimeClock();
        dashboard_.showStatus(QString::fromStdString(message), ordinaryStatusColor());
        dashboard_.showConnectButton("Stop Streaming", false, false);
        break;
    case NoticeKind::unstable:
        print("Ondaline: " + message);  // still live: the look stays
        break;
    case NoticeKind::failure:
        lastErrorText = QString::fromStdString(message);
        setDisconnectedUI();
        break;
    }
}

}  // namespace ondaline::app
