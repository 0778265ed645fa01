#include "Poller.h"

#include <algorithm>
#include <ctime>
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
