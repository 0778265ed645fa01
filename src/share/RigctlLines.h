// The lines a desktop program sends on a shared radio's port, cut out of what arrives, with a bound on their length;
// and whether a connection's first line is a web request. Pure logic, used in the service's thread.
#pragma once

#include <QByteArray>

#include <optional>

class RigctlLines
{
public:
    // No command of the protocol comes near this; a longer line is not a command.
    static constexpr int maxLineBytes = 1024;

    // True for the request line of HTTP ("GET / HTTP/1.1", "OPTIONS * HTTP/1.1", "PRI * HTTP/2.0"): a web page
    // (fetch, a form) reaching the port, whose later lines must never run as commands.
    static bool looksLikeHttp(const QByteArray& line);

    void append(const QByteArray& bytes) { pending.append(bytes); }
    // The next whole line, without its end ("\n" or "\r\n"); nothing while it is incomplete or past the bound.
    std::optional<QByteArray> next();
    // A line has gone past the bound without ending: the stream is not the protocol.
    bool overlong() const { return tooLong; }
    // How much more may be appended before a line can only be overlong: what to read next, at most.
    int room() const { return int(qMax(0, maxLineBytes + 2 - int(pending.size()))); }

private:
    QByteArray pending;
    bool tooLong = false;
};
