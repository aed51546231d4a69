#include "app/qt_main_executor.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <mutex>

namespace ondaline::app {

// The object tasks are queued on. Closing happens under the same lock as
// posting, so once close() has returned no thread can be about to queue on
// an object that the end of the program destroys.
struct QtMainExecutor::Receiver {
    std::mutex lock;
    QObject* target = nullptr;  // a child of the application; null once closed

    void close()
    {
        std::lock_guard guard(lock);
        target = nullptr;
    }
};

QtMainExecutor::QtMainExecutor() : receiver_(std::make_shared<Receiver>())
{
    receiver_->target = new QObject(QCoreApplication::instance());
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     [receiver = receiver_] { receiver->close(); });
}

QtMainExecutor::~QtMainExecutor() { close(); }

void QtMainExecutor::close() { receiver_->close(); }

void QtMainExecutor::post(std::function<void()> task)
{
    std::lock_guard guard(receiver_->lock);
    if (!receiver_->target) return;
    QMetaObject::invokeMethod(
        receiver_->target,
        [receiver = receiver_, task = std::move(task)] {
            {
                std::lock_guard open(receiver->lock);
                if (!receiver->target) return;  // closed after it was queued
            }
            task();
        },
        Qt::QueuedConnection);
}

}  // namespace ondaline::app
