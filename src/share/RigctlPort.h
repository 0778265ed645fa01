// One shared radio's port on 127.0.0.1 and the desktop programs connected to it. Lives in the service's thread.
#pragma once

#include "RigctlClient.h"

#include <QObject>
#include <QTcpServer>

class RigctlPort : public QObject
{
    Q_OBJECT

public:
    // Programs connected to one radio at once; more are closed as they come, with one log line.
    static constexpr int maxClients = 16;

    RigctlPort(const QString& radio, RadioRegistry* radios, QObject* parent = nullptr);

    // Listens on 127.0.0.1 only; false when the port is taken.
    bool listen(quint16 port);
    quint16 port() const { return server.serverPort(); }
    // Listens no more and closes each program's connection cleanly, handing them to the port's parent until they
    // have gone; a transmitter one of them keyed is released as it goes.
    void close();

private:
    void accept();

    QTcpServer server;
    const QString radio;
    RadioRegistry* const radios;
    bool refusing = false;
};
