// A server under test as a child process: pinned to the servers' core, read through /proc, stopped with SIGTERM
// and then SIGKILL, and killed by the kernel should the bench die first. Used in the bench's thread.
#pragma once

#include <QByteArrayList>
#include <QMap>
#include <QStringList>

#include <sys/types.h>

class ServerProcess
{
public:
    // cpu < 0 leaves the server unpinned.
    ServerProcess(const QString& program, const QStringList& arguments, const QStringList& environment, int cpu);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Spawns the server and waits until a TCP connection to the port succeeds; false when it exits or the
    // time-out passes first.
    bool start(quint16 port, int timeoutMs);
    void stop();
    // From spawning to the first successful connection.
    double startupMs() const { return startup; }

    double rssKiB() const;
    // User and system time of the whole process, in clock ticks' resolution.
    double cpuSeconds() const;
    // Time on a CPU of all its threads in nanoseconds, the scheduler's own account.
    qint64 runNanoseconds() const;
    // Its open descriptors by kind ("TCP ESTABLISHED", "UDP", "unix", "pipe", "anon_inode:[eventfd]", a file's
    // path) and its threads by name.
    QMap<QString, int> descriptors() const;
    QMap<QString, int> threads() const;
    // False once the process has ended, whatever ended it.
    bool isRunning();
    // Its child processes running this program (by its name as the kernel keeps it), by process id.
    QList<int> children(const QByteArray& name) const;
    // The memory no other process shares with one process, in KiB.
    static double privateKiB(int pid);

private:
    QByteArray procFile(const QString& name) const;

    QByteArrayList argv;
    QByteArrayList envp;
    int cpu;
    pid_t child = -1;
    double startup = 0;
};
