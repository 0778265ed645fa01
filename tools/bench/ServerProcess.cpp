#include "ServerProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QThread>

#include <algorithm>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// The kernel's names for the states of a TCP socket, by their number in /proc/net/tcp.
const char* const tcpStates[] = {"?",
                                 "ESTABLISHED",
                                 "SYN_SENT",
                                 "SYN_RECV",
                                 "FIN_WAIT1",
                                 "FIN_WAIT2",
                                 "TIME_WAIT",
                                 "CLOSE",
                                 "CLOSE_WAIT",
                                 "LAST_ACK",
                                 "LISTEN",
                                 "CLOSING"};

std::vector<char*> pointers(QByteArrayList& texts)
{
    std::vector<char*> list;
    for (QByteArray& text : texts)
        list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

ServerProcess::ServerProcess(const QString& program,
                             const QStringList& arguments,
                             const QStringList& environment,
                             int cpu_)
    : cpu(cpu_)
{
    argv.append(QFile::encodeName(program));
    for (const QString& argument : arguments)
        argv.append(argument.toLocal8Bit());
    for (const QString& variable : environment)
        envp.append(variable.toLocal8Bit());
}

ServerProcess::~ServerProcess()
{
    stop();
}

bool ServerProcess::start(quint16 port, int timeoutMs)
{
    // Everything the child needs is made before fork(): between fork and exec only system calls are safe.
    const std::vector<char*> arguments = pointers(argv);
    const std::vector<char*> environment = pointers(envp);
    const pid_t parent = ::getpid();
    QElapsedTimer clock;
    clock.start();
    child = ::fork();
    if (child == 0) {
        if (cpu >= 0) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(cpu, &set);
            ::sched_setaffinity(0, sizeof set, &set);
        }
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        // The log would cost the bench a reader; the servers' own formatting work is still done.
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::close_range(3, ~0U, 0);
        ::execve(arguments.front(), arguments.data(), environment.data());
        ::_exit(127);
    }
    while (child > 0 && clock.elapsed() < timeoutMs) {
        if (accepts(port)) {
            startup = clock.nsecsElapsed() / 1e6;
            return true;
        }
        if (::waitpid(child, nullptr, WNOHANG) == child)
            child = -1;
        QThread::usleep(500);
    }
    stop();
    return false;
}

void ServerProcess::stop()
{
    if (child <= 0)
        return;
    ::kill(child, SIGTERM);
    QElapsedTimer clock;
    clock.start();
    while (::waitpid(child, nullptr, WNOHANG) == 0) {
        if (clock.elapsed() > 3000) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            break;
        }
        QThread::msleep(10);
    }
    child = -1;
}

QByteArray ServerProcess::procFile(const QString& name) const
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(child).arg(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double ServerProcess::rssKiB() const
{
    for (const QByteArray& line : procFile(QStringLiteral("status")).split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toDouble();
    }
    return 0;
}

QList<int> ServerProcess::children(const QByteArray& name) const
{
    QList<int> found;
    const QByteArray parent = "\nPPid:\t" + QByteArray::number(child) + '\n';
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.open(QIODevice::ReadOnly)) {
            const QByteArray text = status.readAll();
            if (text.startsWith("Name:\t" + name + '\n') && text.contains(parent))
                found << pid.toInt();
        }
    }
    return found;
}

double ServerProcess::privateKiB(int pid)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    double total = 0;
    if (rollup.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : rollup.readAll().split('\n')) {
            if (line.startsWith("Private_"))
                total += line.mid(line.indexOf(':') + 1).simplified().split(' ').value(0).toDouble();
        }
    }
    return total;
}

double ServerProcess::cpuSeconds() const
{
    // Fields 14 and 15, counted from the state that follows the command's closing parenthesis.
    const QByteArray stat = procFile(QStringLiteral("stat"));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

qint64 ServerProcess::runNanoseconds() const
{
    qint64 total = 0;
    const QStringList threads
        = QDir(QStringLiteral("/proc/%1/task").arg(child)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& thread : threads)
        total += procFile(QStringLiteral("task/%1/schedstat").arg(thread)).split(' ').value(0).toLongLong();
    return total;
}

QMap<QString, int> ServerProcess::descriptors() const
{
    // A socket's descriptor names only its inode: the process's view of the network tables tells what it is.
    QHash<QByteArray, QString> sockets;
    for (const char* table : {"tcp", "tcp6", "udp", "udp6", "unix", "netlink"}) {
        const QByteArray name(table);
        const int inodeField = name == "unix" ? 6 : 9;
        const QList<QByteArray> lines = procFile(QStringLiteral("net/") + QLatin1String(table)).split('\n');
        for (int i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
            if (fields.size() <= inodeField)
                continue;
            QString kind = QString::fromLatin1(name);
            if (name.startsWith("tcp"))
                kind = QStringLiteral("TCP ") + QLatin1String(tcpStates[std::min(fields.at(3).toInt(nullptr, 16), 11)]);
            else if (name.startsWith("udp"))
                kind = QStringLiteral("UDP");
            sockets.insert(fields.at(inodeField), kind);
        }
    }
    QMap<QString, int> kinds;
    const QString folder = QStringLiteral("/proc/%1/fd/").arg(child);
    for (const QString& fd : QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[PATH_MAX];
        const ssize_t size = ::readlink(QFile::encodeName(folder + fd).constData(), target, sizeof target);
        if (size <= 0)
            continue;
        const QByteArray link(target, int(size));
        if (link.startsWith("socket:["))
            // One in no table has been unhashed by the kernel, as a TCP connection that ended in a reset is.
            ++kinds[sockets.value(link.mid(8).chopped(1), QStringLiteral("closed socket"))];
        else if (link.startsWith("pipe:["))
            ++kinds[QStringLiteral("pipe")];
        else
            ++kinds[QFile::decodeName(link)];
    }
    return kinds;
}

QMap<QString, int> ServerProcess::threads() const
{
    QMap<QString, int> names;
    const QStringList tasks
        = QDir(QStringLiteral("/proc/%1/task").arg(child)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks)
        ++names[QString::fromUtf8(procFile(QStringLiteral("task/%1/comm").arg(task)).trimmed())];
    return names;
}

bool ServerProcess::isRunning()
{
    if (child > 0 && ::waitpid(child, nullptr, WNOHANG) == child)
        child = -1;
    return child > 0;
}
