#include "RigctlPort.h"

#include "app/Log.h"

#include <QTcpSocket>

RigctlPort::RigctlPort(const QString& radio_, RadioRegistry* radios_, QObject* parent)
    : QObject(parent)
    , server(this)
    , radio(radio_)
    , radios(radios_)
{
    connect(&server, &QTcpServer::newConnection, this, &RigctlPort::accept);
}

bool RigctlPort::listen(quint16 port)
{
    return server.listen(QHostAddress::LocalHost, port);
}

void RigctlPort::accept()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        if (findChildren<RigctlClient*>(QString(), Qt::FindDirectChildrenOnly).size() >= maxClients) {
            if (!refusing) {
                LOG("Rig {}: {} programs use it already, refusing more\n", radio, maxClients);
            }
            refusing = true;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        refusing = false;
        new RigctlClient(socket, radio, radios, this);
    }
}

void RigctlPort::close()
{
    server.close();
    for (RigctlClient* client : findChildren<RigctlClient*>(QString(), Qt::FindDirectChildrenOnly)) {
        // Each ends by itself once its last answer has left, outliving the port.
        client->setParent(parent());
        client->close();
    }
}
