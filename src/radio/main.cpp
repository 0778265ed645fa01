// orvessa-radio: one radio in a process of its own, started and ended by Orvessa. Requests arrive framed on
// standard input and are answered, in order, on what was standard output; everything else it writes (its log
// lines, anything Hamlib prints) goes to standard error, which Orvessa adds to its own log.
#include "RadioFrames.h"
#include "RadioHost.h"
#include "app/Log.h"
#include "server/Envelope.h"

#include <hamlib/rig.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

bool writeAll(int descriptor, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t step = ::write(descriptor, bytes.constData() + done, size_t(bytes.size() - done));
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step <= 0) {
            return false;
        }
        done += step;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // Never outlive Orvessa, not even stuck inside Hamlib where a closed pipe goes unnoticed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 2 || getppid() != pid_t(std::strtol(argv[1], nullptr, 10))) {
        std::fprintf(stderr, "orvessa-radio is started by Orvessa, with Orvessa's process id\n");
        return 2;
    }
    rig_set_debug(RIG_DEBUG_NONE);
    const int answers = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    RadioHost host;
    RadioFrames requests;
    char buffer[4096];
    for (;;) {
        while (const std::optional<QVariant> request = requests.next()) {
            QByteArray answer = RadioFrames::encode(host.handle(request->toMap()));
            // Orvessa would take an answer past the bound for a broken stream.
            if (answer.size() - 4 > int(RadioFrames::maxFrameBytes)) {
                LOG("Answer of {} bytes not sent: past the bound of the pipe\n", answer.size());
                answer = RadioFrames::encode(errorEnvelope(QStringLiteral("Invalid params")));
            }
            if (!writeAll(answers, answer)) {
                return 1;
            }
        }
        if (requests.broken()) {
            LOG("Unreadable request: closing\n");
            break;
        }
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        requests.append(QByteArray(buffer, int(got)));
    }
    // Orvessa closed the pipe (a disconnect, or Orvessa quits): a transmitter keyed here is released, the radio closed.
    host.close();
    return 0;
}
