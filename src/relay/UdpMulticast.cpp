#include "UdpMulticast.h"

#include "app/Log.h"

#include <QUdpSocket>

namespace {

constexpr int receiveBufferBytes = 4 * 1024 * 1024;

} // namespace

const QStringList defaultPatterns {
    QStringLiteral("adif"), QStringLiteral("<CALL:"), QStringLiteral("<?xml"), QStringLiteral("ADDQSO:")};

UdpMulticast::UdpMulticast(QObject* parent)
    : QObject(parent)
    , patterns(defaultPatterns)
{
    // The service names this type in its blocking queued call to status().
    qRegisterMetaType<usInfo>("usInfo");
    LOG("UDP created Thread id: {}\n", threadIdText());
}

UdpMulticast::~UdpMulticast()
{
    delete socket;
}

void UdpMulticast::UdpMulticastInit()
{
    LOG("UDP init Thread id: {} {}\n", threadIdText(), socket == nullptr);
}

bool UdpMulticast::startReceiving(quint16 port, QHostAddress address, QHostAddress group, QVariant newPatterns)
{
    LOG("UDP setup Thread id: {}, port: {}\n", threadIdText(), port);
    stopReceiving();

    switch (choosePatterns(newPatterns, patterns)) {
    case PatternChoice::Defaults:
        LOG("\nDEFAULT FILTRI\n");
        break;
    case PatternChoice::NoFilters:
        LOG("\nNO FILTRI\n");
        break;
    case PatternChoice::NewFilters:
        LOG("\nNUOVI FILTRI\n");
        break;
    case PatternChoice::Invalid:
        LOG("\nINVALID FILTRI, default\n");
        break;
    }
    LOG("Pattern List: {}\n", patterns.join(QStringLiteral(", ")));

    joinedGroup = group;
    socket = new QUdpSocket();
    // A null address is what an unreadable address text becomes; Qt would bind it to every
    // interface, which is not what the caller asked for.
    const bool bound = !address.isNull()
        && socket->bind(address, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    LOG("Bind result: {}\n", bound);
    if (!bound) {
        LOG("Bind error: {}\n", address.isNull() ? QStringLiteral("invalid address") : socket->errorString());
        socket->deleteLater();
        socket = nullptr;
        return false;
    }

    // Datagrams sent to the port itself keep arriving without the group, so a failed join still
    // counts as a start.
    if (!group.isNull() && !socket->joinMulticastGroup(group)) {
        LOG("Multicast join failed: {} {}\n", group.toString(), socket->errorString());
    }
    // Loggers send in bursts, and a busy machine can keep this thread from reading for a while: the
    // default buffer holds only a few hundred records, and the kernel drops the rest without a word.
    // The kernel caps the size at its own limit.
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);
    connect(socket, &QUdpSocket::readyRead, this, &UdpMulticast::processPendingDatagrams);
    LOG("Socket state: {}\n", static_cast<int>(socket->state()));
    bindPort = port;
    bindAddress = address;
    multicastGroup = group;
    return true;
}

void UdpMulticast::stopReceiving()
{
    LOG("UDP STOP Thread id: {}\n", threadIdText());
    if (!socket) {
        return;
    }
    disconnect(socket, &QUdpSocket::readyRead, this, &UdpMulticast::processPendingDatagrams);
    if (!joinedGroup.isNull()) {
        socket->leaveMulticastGroup(joinedGroup);
    }
    socket->close();
    socket->deleteLater();
    socket = nullptr;
    bindPort = 0;
    bindAddress = QHostAddress();
    multicastGroup = QHostAddress();
}

bool UdpMulticast::isReceiving() const
{
    return socket != nullptr;
}

usInfo UdpMulticast::status() const
{
    usInfo info;
    info.receiving = isReceiving();
    if (info.receiving) {
        info.port = bindPort;
        info.address = bindAddress;
        info.group = multicastGroup;
    }
    return info;
}

UdpMulticast::PatternChoice UdpMulticast::choosePatterns(const QVariant& newPatterns, QStringList& chosen)
{
    if (!newPatterns.isValid() || newPatterns.isNull()) {
        chosen = defaultPatterns;
        return PatternChoice::Defaults;
    }
    if (newPatterns.canConvert<QStringList>()) {
        chosen = newPatterns.toStringList();
        return chosen.isEmpty() ? PatternChoice::NoFilters : PatternChoice::NewFilters;
    }
    chosen = defaultPatterns;
    return PatternChoice::Invalid;
}

int UdpMulticast::firstMatchingPattern(const QStringList& markers, const QByteArray& payload)
{
    for (int i = 0; i < markers.size(); ++i) {
        if (payload.indexOf(markers.at(i).toUtf8()) >= 0) {
            return i;
        }
    }
    return -1;
}

QVariantMap UdpMulticast::qsoPayload(const QByteArray& datagram)
{
    return {{QStringLiteral("CacheID"), QStringLiteral("not implemented")},
            {QStringLiteral("UDPData"), datagram.toBase64()}};
}

void UdpMulticast::processPendingDatagrams()
{
    LOG("UDP received Thread id: {}\n", threadIdText());
    // A slot connected directly to newQso may stop the receiver, so the socket is checked each round. Read
    // into a buffer that holds the largest datagram: asking for each one's size first costs a system call.
    static thread_local char received[65536];
    while (socket && socket->hasPendingDatagrams()) {
        const qint64 size = socket->readDatagram(received, sizeof received);
        if (size < 0) {
            break;
        }
        const QByteArray payload(received, int(size));
        if (patterns.isEmpty()) {
            LOG("\nNON FILTRO\n");
        } else if (firstMatchingPattern(patterns, payload) < 0) {
            continue;
        }
        const QVariantMap qso = qsoPayload(payload);
        emit newQso(qso);
    }
}
