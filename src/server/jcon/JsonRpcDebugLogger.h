// Hands every line of the JSON-RPC layer to Qt's debug channel, and so to the diagnostic log.
#pragma once

#include "JsonRpcLogger.h"

namespace jcon {

class JsonRpcDebugLogger : public JsonRpcLogger
{
public:
    JsonRpcDebugLogger() = default;

    void logDebug(const QString& message) override;
    void logInfo(const QString& message) override;
    void logWarning(const QString& message) override;
    void logError(const QString& message) override;

private:
    static void write(const QString& message);
};

} // namespace jcon
