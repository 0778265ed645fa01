// One connected radio: Hamlib's rig for one model, configured, opened and driven by the rig service.
// Created, used and destroyed in the rig service's thread.
#pragma once

#include <QVariantMap>

#include <hamlib/rigclass.h>

class KrRig : public Rig
{
public:
    // Creates Hamlib's rig for the model without opening any port; throws RigException when Hamlib has no
    // rig for it.
    explicit KrRig(rig_model_t model);
    ~KrRig() override;

    // "Location", "ID", "Model" and "Brand" of this rig, the location read back from Hamlib each time.
    QVariantMap info();
    // The port Hamlib opens, as configured.
    QString pathname();
    // Hamlib's own handle of this rig, for what the binding does not reach (the rig's state).
    RIG* handle() const;

    // Hamlib 4.5 reads the port byte by byte and sleeps a few milliseconds after each byte whenever errno
    // holds EAGAIN on entry, which Qt's non-blocking sockets leave behind in this thread. These hide the
    // methods of Rig the service uses so that each one starts from a clean errno; they add nothing else.
    void setConf(const char* name, const char* value);
    void getConf(const char* name, char* value);
    void open();
    void close();
    freq_t getFreq(vfo_t vfo = RIG_VFO_CURR);
    void setFreq(freq_t freq, vfo_t vfo = RIG_VFO_CURR);
    rmode_t getMode(pbwidth_t& width, vfo_t vfo = RIG_VFO_CURR);
    void setMode(rmode_t mode, pbwidth_t width = RIG_PASSBAND_NORMAL, vfo_t vfo = RIG_VFO_CURR);
    ptt_t getPTT(vfo_t vfo = RIG_VFO_CURR);
    void setPTT(ptt_t ptt, vfo_t vfo = RIG_VFO_CURR);
    void setVFO(vfo_t vfo);
    float getLevelF(setting_t level, vfo_t vfo = RIG_VFO_CURR);
    int getLevelI(setting_t level, vfo_t vfo = RIG_VFO_CURR);
    // And those the desktop programs' commands use.
    vfo_t getVFO();
    void getLevel(setting_t level, int& value, vfo_t vfo = RIG_VFO_CURR);
    void getLevel(setting_t level, float& value, vfo_t vfo = RIG_VFO_CURR);
    void setLevel(setting_t level, int value, vfo_t vfo = RIG_VFO_CURR);
    void setLevel(setting_t level, float value, vfo_t vfo = RIG_VFO_CURR);
    bool getFunc(setting_t function, vfo_t vfo = RIG_VFO_CURR);
    void setFunc(setting_t function, bool on, vfo_t vfo = RIG_VFO_CURR);
    powerstat_t getPowerStat();
    void setPowerStat(powerstat_t status);
    freq_t getSplitFreq(vfo_t vfo = RIG_VFO_CURR);
    void setSplitFreq(freq_t freq, vfo_t vfo = RIG_VFO_CURR);
    rmode_t getSplitMode(pbwidth_t& width, vfo_t vfo = RIG_VFO_CURR);
    void setSplitMode(rmode_t mode, pbwidth_t width, vfo_t vfo = RIG_VFO_CURR);
    split_t getSplitVFO(vfo_t& tx, vfo_t vfo = RIG_VFO_CURR);
    void setSplitVFO(split_t split, vfo_t vfo, vfo_t tx);
};
