#include "XServer.h"

#include <QDebug>
#include <QProcessEnvironment>

XServer::XServer()
{
    // -displayfd lets the server pick a free display and tell us which one.
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"),
                  QStringLiteral("1"),
                  QStringLiteral("-screen"),
                  QStringLiteral("0"),
                  QStringLiteral("1024x768x24"),
                  QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    if (!server.waitForStarted(10000)) {
        return;
    }
    QByteArray number;
    while (!number.contains('\n') && server.waitForReadyRead(10000)) {
        number += server.readAllStandardOutput();
    }
    if (number.contains('\n')) {
        display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    }
}

XServer::~XServer()
{
    server.terminate();
    if (!server.waitForFinished(5000)) {
        server.kill();
        server.waitForFinished(5000);
    }
}

QString XServer::xdotool(const QStringList& arguments, int timeoutMs) const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(timeoutMs) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        tool.kill();
        tool.waitForFinished(1000);
        qWarning() << "xdotool" << arguments << "failed:" << tool.readAllStandardError();
        return QString();
    }
    const QString output = QString::fromUtf8(tool.readAllStandardOutput());
    return output.isNull() ? QStringLiteral("") : output;
}
