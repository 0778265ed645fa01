#include "Poller.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <sys/epoll.h>
#include <unistd.h>

Poller::Poller()
    : fd(::epoll_create1(EPOLL_CLOEXEC))
{ }

Poller::~Poller()
{
    ::close(fd);
}

qint64 Poller::now()
{
    timespec time;
    ::clock_gettime(CLOCK_MONOTONIC, &time);
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

void Poller::add(WsClient* client)
{
    epoll_event event {};
    event.events = EPOLLIN;
    event.data.ptr = client;
    ::epoll_ctl(fd, EPOLL_CTL_ADD, client->descriptor(), &event);
}

void Poller::wait(qint64 deadline, const WsClient::Handler& handler)
{
    // Nanosecond time-outs: the relay paces datagrams tens of microseconds apart.
    const qint64 left = std::max<qint64>(0, deadline - now());
    const timespec timeout {time_t(left / 1000000000), long(left % 1000000000)};
    epoll_event events[256];
    const int count = ::epoll_pwait2(fd, events, 256, &timeout, nullptr);
    for (int i = 0; i < count; ++i) {
        auto* client = static_cast<WsClient*>(events[i].data.ptr);
        if (!client->receive(handler)) {
            ::epoll_ctl(fd, EPOLL_CTL_DEL, client->descriptor(), nullptr);
            ++closed;
        }
    }
}

bool Poller::drive(qint64 deadline,
                   const WsClient::Handler& handler,
                   const std::function<bool()>& done,
                   const std::function<qint64(qint64 now)>& tick)
{
    for (;;) {
        const qint64 current = now();
        const qint64 wake = tick ? tick(current) : std::numeric_limits<qint64>::max();
        if (done && done())
            return true;
        if (current >= deadline)
            return false;
        wait(std::min(deadline, wake), handler);
    }
}

void Poller::settle()
{
    const qint64 quiet = 200 * millisecond;
    qint64 last = now();
    drive(
        last + 3000 * millisecond,
        [&last](WsClient&, const QByteArray&) { last = now(); },
        [&] { return now() - last >= quiet; },
        [&](qint64) { return last + quiet; });
}

QByteArray Poller::request(const QByteArray& method, const QByteArray& params, qint64 id)
{
    QByteArray text = "{\"jsonrpc\":\"2.0\",\"method\":\"" + method + '"';
    if (!params.isEmpty())
        text += ",\"params\":" + params;
    return text + ",\"id\":" + QByteArray::number(id) + '}';
}

QByteArray Poller::call(WsClient& client, const QByteArray& request, int timeoutMs)
{
    QByteArray answer;
    if (client.send(request)) {
        // Answers carry an id; notifications never do, and Base64 holds no quotes.
        drive(
            now() + timeoutMs * millisecond,
            [&](WsClient& from, const QByteArray& message) {
                if (&from == &client && message.contains("\"id\""))
                    answer = message;
            },
            [&answer] { return !answer.isEmpty(); });
    }
    return answer;
}
