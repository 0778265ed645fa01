// The service as the program runs it, in-process: RPCWorker on a thread of its own, with a private settings
// folder and a free port on 127.0.0.1. One per test executable, created in initTestCase.
#pragma once

#include "LogCapture.h"
#include "RpcClient.h"

#include <QTemporaryDir>
#include <QThread>

#include <memory>

class RPCWorker;

class ServiceHost
{
public:
    ServiceHost();
    ~ServiceHost();

    // True once the worker's server listens on port.
    bool isListening() const { return port != 0; }
    // A client with the first allowed origin, connected; null when the server refuses it.
    std::unique_ptr<RpcClient> client();
    // Stores a value under the server port key and runs the worker's restart, as a save in the settings window does.
    void restartWith(const QVariant& storedPort);
    // Stores the sharing settings and runs the worker's restart, as a save in the settings window does; what the
    // worker then tells the settings window.
    QStringList share(bool on, const QVariant& firstPort);
    // A port on 127.0.0.1 that nothing listens on right now (TCP) or that nothing is bound to (UDP).
    static quint16 freeTcpPort();
    static quint16 freeUdpPort();

    // Holds everything the program logs, from every thread; created first, so it sees the start.
    LogCapture log;
    quint16 port = 0;

private:
    QTemporaryDir config;
    QThread thread;
    RPCWorker* worker = nullptr;
};
