// Requests cut out of the input by the framer, dispatched onto the real service as if from a client that has
// gone (answers are dropped with a log line). Nothing may crash, hang or leak past the sanitizers.
#include "server/RigService.h"
#include "server/jcon/JsonRpcDebugLogger.h"
#include "server/jcon/JsonRpcFramer.h"
#include "server/jcon/JsonRpcWebSocketServer.h"

#include <QCoreApplication>
#include <QSet>

#include <hamlib/rig.h>

#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace {

jcon::JsonRpcWebSocketServer* server = nullptr;

// connectRig would have Hamlib open and write to whatever path the input names, the UDP starts bind ports, and
// futureNumber sleeps a second: none belongs in a fuzzer.
const QSet<QString> unsafe {QStringLiteral("connectRig"),
                            QStringLiteral("udpQsoStart"),
                            QStringLiteral("udpQsoStartFilters"),
                            QStringLiteral("futureNumber")};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The program logs every call on standard output and Qt's messages through it; libFuzzer reports on
    // standard error.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
    rig_set_debug(RIG_DEBUG_NONE);

    auto* app = new QCoreApplication(*argc, *argv);
    auto* service = new RigService(app);
    server = new jcon::JsonRpcWebSocketServer(app, std::make_shared<jcon::JsonRpcDebugLogger>());
    server->setNotificationsEnabled(true);
    server->registerServices(QObjectList {service});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    jcon::JsonRpcFramer framer;
    framer.append(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    while (std::optional<QJsonObject> request = framer.next()) {
        if (!unsafe.contains(request->value(QStringLiteral("method")).toString())) {
            server->jsonRequestReceived(*request, nullptr);
        }
    }
    // Deferred answers and notifications arrive through the event loop, and their watchers leave through it.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
