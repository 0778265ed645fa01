#include "JsonRpcDebugLogger.h"

#include <QDebug>
#include <QMessageLogger>

namespace jcon {

void JsonRpcDebugLogger::logDebug(const QString& message)
{
    write(message);
}

void JsonRpcDebugLogger::logInfo(const QString& message)
{
    write(message);
}

void JsonRpcDebugLogger::logWarning(const QString& message)
{
    write(message);
}

void JsonRpcDebugLogger::logError(const QString& message)
{
    write(message);
}

void JsonRpcDebugLogger::write(const QString& message)
{
    // Every level is a debug message: the level never changes what the diagnostic log shows. Handed to the
    // message handler as it is, without a debug stream's quoting or its cost.
    qt_message_output(QtDebugMsg, QMessageLogContext(), message);
}

} // namespace jcon
