#pragma once

#include "platform/dispatch/main_executor.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

namespace ondaline::app {

// The main executor of the program: a task posted from any thread runs on
// the Qt main thread, in posting order (a queued invocation on an object
// that lives there). Once the event loop has ended, or the object is gone,
// posts are dropped without touching anything destroyed.
class QtMainExecutor final : public platform::MainExecutor {
public:
    QtMainExecutor();  // on the main thread, after QApplication
    ~QtMainExecutor() override;

    void post(std::function<void()> task) override;

    // No task runs after this; called when the event loop ends.
    void close();

private:
    struct Receiver;
    std::shared_ptr<Receiver> receiver_;
};

}  // namespace ondaline::app
