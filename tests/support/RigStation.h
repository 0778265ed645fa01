// The real program beside a simulated radio, with clients that talk to the program over WebSocket (test helper).
// Everything is used from the test's thread; the radio answers from a thread of its own.
#pragma once

#include "OrvessaRun.h"
#include "RigSimulator.h"
#include "RpcClient.h"

#include <QJsonArray>
#include <QJsonObject>

#include <memory>

class RigStation : public QObject
{
    Q_OBJECT

public:
    // A silent radio keeps Hamlib busy about 8 s a call: answers may wait that long behind it.
    static constexpr int answerTimeoutMs = 30000;

    explicit RigStation(QObject* parent = nullptr);

    // Starts the program; false when it does not listen or the radio has no port.
    bool start();
    // A new client with an allowed origin, connected to the program; null when it cannot connect.
    std::unique_ptr<RpcClient> newClient();

    // The "result" object of a request; empty when the answer has no object.
    static QJsonObject
    call(RpcClient& client, const QString& method, const QJsonArray& params = {}, int timeoutMs = answerTimeoutMs);
    // connectRig for the simulated FT-991 on the given port text.
    static QJsonObject connectRadio(RpcClient& client, const QString& port);
    // listConnectedRigs as the program answers it.
    static QJsonArray connectedRigs(RpcClient& client);

    // Log lines of the program from index from on that match the pattern.
    QStringList linesFrom(int from, const QRegularExpression& pattern) const;

    RigSimulator radio;
    OrvessaRun orvessa;
    quint16 serverPort = 0;
};
