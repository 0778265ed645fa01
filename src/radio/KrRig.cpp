#include "KrRig.h"

#include "app/Log.h"
#include "share/DeviceUsers.h"

#include <QString>

#include <cerrno>
#include <cstring>

namespace {

// The binding keeps Hamlib's handle to itself and offers no way to it. An explicit instantiation may name a private
// member, so this hands over a pointer to that member: exact, whatever the class's layout.
using HandleMember = RIG* Rig::*;
HandleMember handleMember();
template <HandleMember member>
struct HandleOf
{
    friend HandleMember handleMember() { return member; }
};
template struct HandleOf<&Rig::theRig>;

// Hamlib's binding throws a copy of an exception it allocated and never frees. The usual reason for its
// constructor to fail, a model Hamlib has no backend for, is refused here with the same text instead.
rig_model_t knownModel(rig_model_t model)
{
    rig_check_backend(model);
    if (!rig_get_caps(model))
        throw RigException("Rig initialization error");
    return model;
}

} // namespace

KrRig::KrRig(rig_model_t model)
    : Rig(knownModel(model))
{ }

KrRig::~KrRig()
{
    LOG("KrRig distrutto\n");
}

QVariantMap KrRig::info()
{
    return {
        {QStringLiteral("Location"), pathname()},
        {QStringLiteral("ID"), static_cast<uint>(caps->rig_model)},
        {QStringLiteral("Model"), QString::fromUtf8(caps->model_name)},
        {QStringLiteral("Brand"), QString::fromUtf8(caps->mfg_name)},
    };
}

void KrRig::setConf(const char* name, const char* value)
{
    errno = 0;
    Rig::setConf(name, value);
}

void KrRig::getConf(const char* name, char* value)
{
    errno = 0;
    Rig::getConf(name, value);
}

void KrRig::open()
{
    errno = 0;
    Rig::open();
    // A program that opens the port after us fails at once ("device busy") instead of mixing its answers with ours.
    DeviceUsers::holdExclusively(pathname());
}

void KrRig::close()
{
    // Whoever else holds the terminal (a simulator's far end) would keep it exclusive after us.
    DeviceUsers::holdExclusively(pathname(), false);
    errno = 0;
    Rig::close();
}

QString KrRig::pathname()
{
    char location[512] = {};
    getConf("rig_pathname", location);
    return QString::fromUtf8(location);
}

freq_t KrRig::getFreq(vfo_t vfo)
{
    errno = 0;
    return Rig::getFreq(vfo);
}

void KrRig::setFreq(freq_t freq, vfo_t vfo)
{
    errno = 0;
    Rig::setFreq(freq, vfo);
}

rmode_t KrRig::getMode(pbwidth_t& width, vfo_t vfo)
{
    errno = 0;
    return Rig::getMode(width, vfo);
}

void KrRig::setMode(rmode_t mode, pbwidth_t width, vfo_t vfo)
{
    errno = 0;
    Rig::setMode(mode, width, vfo);
}

ptt_t KrRig::getPTT(vfo_t vfo)
{
    errno = 0;
    return Rig::getPTT(vfo);
}

void KrRig::setPTT(ptt_t ptt, vfo_t vfo)
{
    errno = 0;
    Rig::setPTT(ptt, vfo);
}

void KrRig::setVFO(vfo_t vfo)
{
    errno = 0;
    Rig::setVFO(vfo);
}

float KrRig::getLevelF(setting_t level, vfo_t vfo)
{
    errno = 0;
    return Rig::getLevelF(level, vfo);
}

int KrRig::getLevelI(setting_t level, vfo_t vfo)
{
    errno = 0;
    return Rig::getLevelI(level, vfo);
}

vfo_t KrRig::getVFO()
{
    errno = 0;
    return Rig::getVFO();
}

void KrRig::getLevel(setting_t level, int& value, vfo_t vfo)
{
    errno = 0;
    Rig::getLevel(level, value, vfo);
}

void KrRig::getLevel(setting_t level, float& value, vfo_t vfo)
{
    errno = 0;
    Rig::getLevel(level, value, vfo);
}

void KrRig::setLevel(setting_t level, int value, vfo_t vfo)
{
    errno = 0;
    Rig::setLevel(level, value, vfo);
}

void KrRig::setLevel(setting_t level, float value, vfo_t vfo)
{
    errno = 0;
    Rig::setLevel(level, value, vfo);
}

bool KrRig::getFunc(setting_t function, vfo_t vfo)
{
    errno = 0;
    return Rig::getFunc(function, vfo);
}

void KrRig::setFunc(setting_t function, bool on, vfo_t vfo)
{
    errno = 0;
    Rig::setFunc(function, on, vfo);
}

powerstat_t KrRig::getPowerStat()
{
    errno = 0;
    return Rig::getPowerStat();
}

void KrRig::setPowerStat(powerstat_t status)
{
    errno = 0;
    Rig::setPowerStat(status);
}

freq_t KrRig::getSplitFreq(vfo_t vfo)
{
    errno = 0;
    return Rig::getSplitFreq(vfo);
}

void KrRig::setSplitFreq(freq_t freq, vfo_t vfo)
{
    errno = 0;
    Rig::setSplitFreq(freq, vfo);
}

rmode_t KrRig::getSplitMode(pbwidth_t& width, vfo_t vfo)
{
    errno = 0;
    return Rig::getSplitMode(width, vfo);
}

void KrRig::setSplitMode(rmode_t mode, pbwidth_t width, vfo_t vfo)
{
    errno = 0;
    Rig::setSplitMode(mode, width, vfo);
}

split_t KrRig::getSplitVFO(vfo_t& tx, vfo_t vfo)
{
    errno = 0;
    return Rig::getSplitVFO(tx, vfo);
}

void KrRig::setSplitVFO(split_t split, vfo_t vfo, vfo_t tx)
{
    errno = 0;
    Rig::setSplitVFO(split, vfo, tx);
}

RIG* KrRig::handle() const
{
    return this->*handleMember();
}
