#include "JsonRpcFileLogger.h"

namespace jcon {

JsonRpcFileLogger::JsonRpcFileLogger(const QString& filename)
    : file(filename)
{
    // A file that cannot be opened only loses the lines; the server works on without it.
    file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    stream.setDevice(&file);
}

JsonRpcFileLogger::~JsonRpcFileLogger()
{
    stream.flush();
    file.close();
}

void JsonRpcFileLogger::logDebug(const QString& message)
{
    write(message);
}

void JsonRpcFileLogger::logInfo(const QString& message)
{
    write(message);
}

void JsonRpcFileLogger::logWarning(const QString& message)
{
    write(message);
}

void JsonRpcFileLogger::logError(const QString& message)
{
    write(message);
}

void JsonRpcFileLogger::write(const QString& message)
{
    stream << message << "\n";
}

} // namespace jcon
