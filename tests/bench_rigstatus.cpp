// Times one status read as the service makes it (frequency, mode, PTT, then the level) against the
// simulated radio, once with a clean errno and once with errno left at EAGAIN, as Qt's sockets leave it.
#include "KrRig.h"
#include "RigSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

// Rig is Hamlib's own class, KrRig ours: the same read through both shows what KrRig changes.
template <typename Radio>
double statusReadMs(Radio& rig, bool dirtyErrno)
{
    // Past Hamlib's cache lifetime, as between two status ticks.
    QThread::msleep(160);
    if (dirtyErrno)
        errno = EAGAIN;
    QElapsedTimer clock;
    clock.start();
    rig.getFreq(RIG_VFO_CURR);
    pbwidth_t width;
    rig.getMode(width, RIG_VFO_CURR);
    if (rig.getPTT(RIG_VFO_CURR) != RIG_PTT_OFF)
        rig.getLevelF(RIG_LEVEL_ALC, RIG_VFO_CURR);
    else
        rig.getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR);
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    rig_set_debug(RIG_DEBUG_NONE);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    RigSimulator radio;
    if (!radio.isOpen()) {
        std::fprintf(stderr, "bench_rigstatus: %s\n", qPrintable(radio.errorString()));
        return 1;
    }
    try {
        KrRig rig(RigSimulator::modelId);
        rig.setConf("rig_pathname", radio.portName().toUtf8().constData());
        rig.setConf("serial_speed", "38400");
        rig.setConf("cache_timeout", "150");
        rig.open();
        const auto measure = [&](auto& through, const char* name, bool dirty) {
            std::vector<double> times;
            radio.resetCommandCount();
            for (int round = 0; round < rounds; ++round)
                times.push_back(statusReadMs(through, dirty));
            std::sort(times.begin(), times.end());
            std::printf("%-5s errno %-6s: median %7.2f ms, worst %7.2f ms, %.1f radio commands per read (%d reads)\n",
                        name,
                        dirty ? "EAGAIN" : "clean",
                        times[times.size() / 2],
                        times.back(),
                        double(radio.commandCount()) / rounds,
                        rounds);
        };
        Rig& base = rig;
        measure(base, "Rig", false);
        measure(base, "Rig", true);
        measure(rig, "KrRig", false);
        measure(rig, "KrRig", true);
        rig.close();
    } catch (const RigException& e) {
        std::fprintf(stderr, "bench_rigstatus: %s\n", e.message);
        return 1;
    }
    return 0;
}
