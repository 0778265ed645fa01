// One WebSocket client on a plain socket, framed by hand so that the load side costs far less than the servers
// it measures. Used in the bench's thread.
#pragma once

#include <QByteArray>

#include <functional>

class WsClient
{
public:
    using Handler = std::function<void(WsClient& client, const QByteArray& message)>;

    WsClient() = default;
    ~WsClient();
    WsClient(const WsClient&) = delete;
    WsClient& operator=(const WsClient&) = delete;

    // Connects to 127.0.0.1:port and completes the handshake sending this Origin, within the time-out.
    bool open(quint16 port, const QByteArray& origin, int timeoutMs);
    // Connects and sends the handshake's first half only, as a peer that stalls before it ends.
    bool openPartly(quint16 port, const QByteArray& origin, int timeoutMs);
    int descriptor() const { return fd; }
    // Sends one text message; false when the connection is gone or stays full for a second.
    bool send(const QByteArray& text);
    // Adds a text message to those the next flush() sends in one write.
    void queue(const QByteArray& text);
    bool flush();
    // Reads what has arrived and hands over each complete text message; false once the server has closed.
    bool receive(const Handler& handler);
    // True once receive() has seen the server's close frame or the end of the stream.
    bool ended() const { return serverClosed; }
    // Starts the closing handshake with status 1000; the server's close then ends the client.
    bool sendClose();
    // Drops the connection at once: the server gets a reset, not a closure.
    void reset();

private:
    bool connectTo(quint16 port, int timeoutMs);
    QByteArray handshake(quint16 port, const QByteArray& origin) const;
    void queueFrame(char opcode, const QByteArray& payload);
    bool writeAll(const QByteArray& bytes, int timeoutMs);
    // Appends what the socket holds to input; false at its end or on an error.
    bool fill();

    int fd = -1;
    QByteArray input;
    QByteArray output;
    QByteArray message;
    bool serverClosed = false;
};
