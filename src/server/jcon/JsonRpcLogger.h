// Where the JSON-RPC layer reports what it does and what goes wrong; shared by the server and its endpoints.
#pragma once

#include <QString>

namespace jcon {

class JsonRpcLogger
{
public:
    virtual ~JsonRpcLogger();

    virtual void logDebug(const QString& message) = 0;
    virtual void logInfo(const QString& message) = 0;
    virtual void logWarning(const QString& message) = 0;
    virtual void logError(const QString& message) = 0;
};

} // namespace jcon
