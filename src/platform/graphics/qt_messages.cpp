#include "platform/graphics/qt_messages.h"

#include "platform/standard_stream.h"

#include <QString>
#include <QtGlobal>

#include <chrono>

namespace ondaline::platform {

namespace {

void queueMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    auto& standardError = StandardStream::error();
    standardError.write((qFormatLogMessage(type, context, message) + '\n').toStdString());
    // Qt aborts once this returns: the reason gets its chance to be read.
    if (type == QtFatalMsg) standardError.flush(std::chrono::seconds(1));
}

}  // namespace

void routeQtMessagesThroughStandardError() { qInstallMessageHandler(queueMessage); }

}  // namespace ondaline::platform
