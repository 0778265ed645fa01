#include "TestEnvironment.h"

#include <QTcpServer>
#include <QUdpSocket>

namespace TestEnvironment {

QProcessEnvironment forOrvessa(const QString& configHome, const QString& platform)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

QRegularExpression startLine()
{
    return QRegularExpression(QStringLiteral(R"(^\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\]\[main:\d+\]: )"
                                             R"(Starting Orvessa 25\.12\.0 \(Build [A-Z][a-z]{2} [ \d]\d \d{4} )"
                                             R"(\d\d:\d\d:\d\d\)$)"));
}

quint16 freeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress(QHostAddress::LocalHost), 0, QAbstractSocket::DontShareAddress) ? probe.localPort()
                                                                                                   : 0;
}

} // namespace TestEnvironment
