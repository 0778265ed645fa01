#include "MessageCapture.h"

namespace {

QtMessageHandler previous = nullptr;
QStringList debugs;
int others = 0;

void record(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg) {
        debugs.append(message);
    } else {
        ++others;
    }
}

} // namespace

MessageCapture::MessageCapture()
{
    clear();
    previous = qInstallMessageHandler(record);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous);
}

QStringList MessageCapture::debugLines()
{
    return debugs;
}

int MessageCapture::otherMessages()
{
    return others;
}

void MessageCapture::clear()
{
    debugs.clear();
    others = 0;
}
