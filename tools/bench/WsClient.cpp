#include "WsClient.h"

#include <QDeadlineTimer>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char maskKey[4] = {0x1f, 0x2e, 0x3d, 0x4c};

bool ready(int fd, short events, QDeadlineTimer deadline)
{
    pollfd entry {fd, events, 0};
    return ::poll(&entry, 1, int(deadline.remainingTime())) == 1;
}

} // namespace

WsClient::~WsClient()
{
    if (fd >= 0)
        ::close(fd);
}

bool WsClient::open(quint16 port, const QByteArray& origin, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    if (!connectTo(port, timeoutMs) || !writeAll(handshake(port, origin), timeoutMs))
        return false;
    int end;
    while ((end = input.indexOf("\r\n\r\n")) < 0) {
        if (!ready(fd, POLLIN, deadline) || !fill())
            return false;
    }
    const bool upgraded = input.startsWith("HTTP/1.1 101");
    input.remove(0, end + 4);
    return upgraded;
}

bool WsClient::openPartly(quint16 port, const QByteArray& origin, int timeoutMs)
{
    const QByteArray text = handshake(port, origin);
    return connectTo(port, timeoutMs) && writeAll(text.left(text.size() / 2), timeoutMs);
}

bool WsClient::connectTo(quint16 port, int timeoutMs)
{
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Requests leave at once: no delay of the client's own may end up in the measured times.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const timeval limit {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return true;
}

QByteArray WsClient::handshake(quint16 port, const QByteArray& origin) const
{
    return "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
          "Sec-WebSocket-Version: 13\r\nOrigin: "
        + origin + "\r\n\r\n";
}

bool WsClient::send(const QByteArray& text)
{
    queue(text);
    return flush();
}

void WsClient::queue(const QByteArray& text)
{
    queueFrame(0x1, text);
}

bool WsClient::sendClose()
{
    queueFrame(0x8, QByteArray("\x03\xe8", 2));
    return flush();
}

void WsClient::reset()
{
    const linger abort {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
    fd = -1;
}

void WsClient::queueFrame(char opcode, const QByteArray& payload)
{
    output.append(char(0x80 | opcode));
    const quint64 length = quint64(payload.size());
    if (length < 126) {
        output.append(char(0x80 | length));
    } else {
        const int bytes = length < 65536 ? 2 : 8;
        output.append(char(0x80 | (bytes == 2 ? 126 : 127)));
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
            output.append(char(length >> shift));
    }
    output.append(maskKey, sizeof maskKey);
    for (int i = 0; i < payload.size(); ++i)
        output.append(char(payload.at(i) ^ maskKey[i % 4]));
}

bool WsClient::flush()
{
    const bool written = writeAll(output, 1000);
    output.clear();
    return written;
}

bool WsClient::receive(const Handler& handler)
{
    bool open = fill();
    int at = 0;
    while (input.size() - at >= 2) {
        const auto* frame = reinterpret_cast<const uchar*>(input.constData() + at);
        const int available = input.size() - at;
        quint64 length = frame[1] & 0x7f;
        int header = 2;
        if (length == 126) {
            header = 4;
            if (available < header)
                break;
            length = qFromBigEndian<quint16>(frame + 2);
        } else if (length == 127) {
            header = 10;
            if (available < header)
                break;
            length = qFromBigEndian<quint64>(frame + 2);
        }
        if (quint64(available - header) < length)
            break;
        const int opcode = frame[0] & 0x0f;
        if (opcode == 0x8)
            open = false;
        // Text and its continuations; the servers send no pings.
        if (opcode <= 0x1) {
            message.append(reinterpret_cast<const char*>(frame + header), int(length));
            if (frame[0] & 0x80) {
                handler(*this, message);
                message.clear();
            }
        }
        at += header + int(length);
    }
    input.remove(0, at);
    serverClosed = serverClosed || !open;
    return open;
}

bool WsClient::writeAll(const QByteArray& bytes, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (int sent = 0; sent < bytes.size();) {
        const ssize_t written = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (written > 0)
            sent += int(written);
        else if (errno != EAGAIN || !ready(fd, POLLOUT, deadline))
            return false;
    }
    return true;
}

bool WsClient::fill()
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got > 0)
            input.append(buffer, int(got));
        else
            return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}
