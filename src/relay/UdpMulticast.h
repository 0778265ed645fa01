// Listens on one UDP port, optionally in a multicast group, for the QSO records that logging programs
// send, and hands on those that carry a known marker. Lives in a thread of its own.
#pragma once

#include "usInfo.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

class QUdpSocket;

// Markers that tell a QSO record from other traffic on the port, used when a start names none.
extern const QStringList defaultPatterns;

class UdpMulticast : public QObject
{
    Q_OBJECT

signals:
    void newQso(QVariantMap qso);

public slots:
    void UdpMulticastInit();

public:
    // How a start arrived at its pattern list; each outcome has its own log line.
    enum class PatternChoice { Defaults, NoFilters, NewFilters, Invalid };

    explicit UdpMulticast(QObject* parent = nullptr);
    ~UdpMulticast() override;

    // Callers in other threads reach these with blocking queued calls, naming the types exactly.
    Q_INVOKABLE bool startReceiving(quint16 bindPort,
                                    QHostAddress bindAddress = QHostAddress::AnyIPv4,
                                    QHostAddress multicastGroup = QHostAddress::Null,
                                    QVariant newPatterns = QVariant());
    Q_INVOKABLE void stopReceiving();
    Q_INVOKABLE bool isReceiving() const;
    Q_INVOKABLE usInfo status() const;

    // The pattern list a start value stands for: none or null gives the defaults, a string list
    // (or anything convertible to one) is taken as it is, an empty one meaning "accept everything".
    static PatternChoice choosePatterns(const QVariant& newPatterns, QStringList& chosen);
    // Index of the first pattern whose UTF-8 bytes occur in the payload (case-sensitive), or -1.
    static int firstMatchingPattern(const QStringList& markers, const QByteArray& payload);
    // What newQso carries: the datagram whole, in standard Base64.
    static QVariantMap qsoPayload(const QByteArray& datagram);

private slots:
    void processPendingDatagrams();

private:
    quint16 bindPort = 0;
    QHostAddress bindAddress;
    QHostAddress multicastGroup;
    // Its presence is the receiving state.
    QUdpSocket* socket = nullptr;
    QHostAddress joinedGroup;
    QStringList patterns;
};
