// Writes every line of the JSON-RPC layer to a text file, truncated when the logger is created.
#pragma once

#include "JsonRpcLogger.h"

#include <QFile>
#include <QTextStream>

namespace jcon {

class JsonRpcFileLogger : public JsonRpcLogger
{
public:
    explicit JsonRpcFileLogger(const QString& filename);
    ~JsonRpcFileLogger() override;

    void logDebug(const QString& message) override;
    void logInfo(const QString& message) override;
    void logWarning(const QString& message) override;
    void logError(const QString& message) override;

private:
    void write(const QString& message);

    QFile file;
    QTextStream stream;
};

} // namespace jcon
