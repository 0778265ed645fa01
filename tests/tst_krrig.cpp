#include "KrRig.h"
#include "LineProcess.h"
#include "RigSimulator.h"
#include "StdoutCapture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Hamlib's cache lifetime that the service sets; a read later than this goes to the radio.
constexpr int cacheLifetimeMs = 150;

// Opens a rig the way the service connects one: three settings, open, then a frequency read as proof.
std::unique_ptr<KrRig> connectRig(const QString& port)
{
    auto rig = std::make_unique<KrRig>(RigSimulator::modelId);
    rig->setConf("rig_pathname", port.toUtf8().constData());
    rig->setConf("serial_speed", "38400");
    rig->setConf("cache_timeout", "150");
    rig->open();
    rig->getFreq(RIG_VFO_CURR);
    return rig;
}

int destructionLines(StdoutCapture& capture)
{
    static const QRegularExpression line(QStringLiteral(R"(^\[[^]]+\]\[~KrRig:\d+\]: KrRig distrutto$)"));
    return capture.lines().filter(line).size();
}

void waitPastCache()
{
    // Hamlib's own timing is the subject here: only a read after the cache lifetime reaches the radio.
    QTest::qSleep(cacheLifetimeMs + 50);
}

} // namespace

#define RIG_TRY(statement)                                                                                             \
    do {                                                                                                               \
        try {                                                                                                          \
            statement;                                                                                                 \
        } catch (const RigException& e) {                                                                              \
            QFAIL(qPrintable(QStringLiteral("RigException: %1").arg(QString::fromUtf8(e.message))));                   \
        }                                                                                                              \
    } while (false)

class TestKrRig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void unknownModelThrowsFromConstructor();
    void destructionLogsOnce_data();
    void destructionLogsOnce();
    void openFails_data();
    void openFails();
    void info();
    void frequency_data();
    void frequency();
    void mode_data();
    void mode();
    void ptt_data();
    void ptt();
    void vfo_data();
    void vfo();
    void levels_data();
    void levels();
    void radioThatStopsAnsweringRecovers();
    void portThatVanishesWhileOpen();
    void closedRigNoLongerTalks();
    void simulatorTool();

private:
    std::unique_ptr<RigSimulator> radio;
};

void TestKrRig::initTestCase()
{
    rig_set_debug(RIG_DEBUG_NONE);
}

void TestKrRig::init()
{
    radio = std::make_unique<RigSimulator>();
    QVERIFY2(radio->isOpen(), qPrintable(radio->errorString()));
}

void TestKrRig::cleanup()
{
    radio.reset();
}

void TestKrRig::unknownModelThrowsFromConstructor()
{
    StdoutCapture capture;
    try {
        // As the service makes it: the new-expression must give its memory back when the base throws.
        std::unique_ptr<KrRig> rig(new KrRig(999999));
        QFAIL("a rig was made for a model Hamlib does not know");
    } catch (const RigException& e) {
        QVERIFY(e.message && *e.message);
    }
    // No object came to be, so there is nothing to report destroyed.
    QCOMPARE(destructionLines(capture), 0);
}

void TestKrRig::destructionLogsOnce_data()
{
    QTest::addColumn<QString>("stage");
    QTest::newRow("never opened") << "created";
    QTest::newRow("open failed") << "open failed";
    QTest::newRow("left open") << "open";
    QTest::newRow("closed") << "closed";
}

void TestKrRig::destructionLogsOnce()
{
    QFETCH(QString, stage);
    StdoutCapture capture;
    {
        std::unique_ptr<KrRig> rig;
        if (stage == "created") {
            rig = std::make_unique<KrRig>(RigSimulator::modelId);
        } else if (stage == "open failed") {
            rig = std::make_unique<KrRig>(RigSimulator::modelId);
            rig->setConf("rig_pathname", "/nonexistent/ttyUSB0");
            QVERIFY_EXCEPTION_THROWN(rig->open(), RigException);
        } else {
            RIG_TRY(rig = connectRig(radio->portName()));
            if (stage == "closed")
                RIG_TRY(rig->close());
        }
        QCOMPARE(destructionLines(capture), 0);
    }
    QCOMPARE(destructionLines(capture), 1);
}

void TestKrRig::openFails_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("port that does not exist") << "missing";
    QTest::newRow("file that is not a terminal") << "file";
    QTest::newRow("radio that does not answer") << "silent";
    QTest::newRow("port that vanished") << "vanished";
}

void TestKrRig::openFails()
{
    QFETCH(QString, fault);
    QTemporaryDir folder;
    QString port = radio->portName();
    if (fault == "missing") {
        port = folder.filePath(QStringLiteral("ttyUSB0"));
    } else if (fault == "file") {
        port = folder.filePath(QStringLiteral("plain"));
        QFile plain(port);
        QVERIFY(plain.open(QIODevice::WriteOnly));
    } else if (fault == "silent") {
        radio->setAnswering(false);
    } else {
        radio->vanish();
    }

    QElapsedTimer clock;
    clock.start();
    try {
        connectRig(port);
        QFAIL("connected");
    } catch (const RigException& e) {
        QVERIFY(e.message && *e.message);
    }
    QVERIFY2(clock.elapsed() < 60000, "Hamlib gave up too late");
    // The radio's state is untouched by a failed attempt.
    QCOMPARE(radio->withRadio([](Ft991Protocol& state) { return state.frequency(0); }), 14074000);
}

void TestKrRig::info()
{
    // The location is the text Hamlib was given, not the device it leads to.
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("ttyRadio"));
    QVERIFY(QFile::link(radio->portName(), link));

    std::unique_ptr<KrRig> rig;
    RIG_TRY(rig = connectRig(link));
    QVariantMap description;
    RIG_TRY(description = rig->info());
    QCOMPARE(description.size(), 4);
    QCOMPARE(description.value(QStringLiteral("Location")).toString(), link);
    QCOMPARE(description.value(QStringLiteral("ID")).userType(), int(QMetaType::UInt));
    QCOMPARE(description.value(QStringLiteral("ID")).toUInt(), RigSimulator::modelId);
    QCOMPARE(description.value(QStringLiteral("Model")).toString(), QStringLiteral("FT-991"));
    QCOMPARE(description.value(QStringLiteral("Brand")).toString(), QStringLiteral("Yaesu"));
}

void TestKrRig::frequency_data()
{
    QTest::addColumn<double>("requested");
    QTest::addColumn<qint64>("tuned");

    QTest::newRow("HF") << 7100000.0 << qint64(7100000);
    QTest::newRow("VHF") << 145500000.0 << qint64(145500000);
    QTest::newRow("fractional hertz are cut by the radio") << 7100000.6 << qint64(7100000);
    QTest::newRow("beyond the radio's range keeps the old frequency") << 1e9 << qint64(14074000);
}

void TestKrRig::frequency()
{
    QFETCH(double, requested);
    QFETCH(qint64, tuned);
    std::unique_ptr<KrRig> rig;
    RIG_TRY(rig = connectRig(radio->portName()));
    RIG_TRY(rig->setFreq(requested, RIG_VFO_CURR));
    QCOMPARE(radio->withRadio([](Ft991Protocol& state) { return state.frequency(0); }), tuned);
    // Right after the set, Hamlib may answer from its cache; past it, the radio's own value comes back.
    waitPastCache();
    freq_t reported = 0;
    RIG_TRY(reported = rig->getFreq(RIG_VFO_CURR));
    QCOMPARE(reported, double(tuned));
}

void TestKrRig::mode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("passband");
    QTest::addColumn<char>("wire");
    QTest::addColumn<int>("width");

    QTest::newRow("USB, normal passband") << "USB" << 0 << '2' << -1;
    QTest::newRow("LSB") << "LSB" << 0 << '1' << -1;
    QTest::newRow("CW") << "CW" << 0 << '3' << -1;
    QTest::newRow("CW reverse") << "CWR" << 0 << '7' << -1;
    QTest::newRow("FM") << "FM" << 0 << '4' << -1;
    QTest::newRow("AM") << "AM" << 0 << '5' << -1;
    QTest::newRow("RTTY") << "RTTY" << 0 << '6' << -1;
    QTest::newRow("packet on USB") << "PKTUSB" << 0 << 'C' << -1;
    QTest::newRow("packet on LSB") << "PKTLSB" << 0 << '8' << -1;
    QTest::newRow("CW with a narrow filter") << "CW" << 500 << '3' << 500;
    QTest::newRow("USB with a wide filter") << "USB" << 3000 << '2' << 3000;
}

void TestKrRig::mode()
{
    QFETCH(QString, name);
    QFETCH(int, passband);
    QFETCH(char, wire);
    QFETCH(int, width);
    std::unique_ptr<KrRig> rig;
    RIG_TRY(rig = connectRig(radio->portName()));

    const rmode_t mode = rig_parse_mode(name.toUtf8().constData());
    QVERIFY(mode != RIG_MODE_NONE);
    rmode_t reported = RIG_MODE_NONE;
    pbwidth_t reportedWidth = 0;
    RIG_TRY(rig->setMode(mode, passband, RIG_VFO_CURR));
    RIG_TRY(reported = rig->getMode(reportedWidth, RIG_VFO_CURR));
    QCOMPARE(QString::fromUtf8(rig_strrmode(reported)), name);
    QCOMPARE(radio->withRadio([](Ft991Protocol& state) { return state.mode(); }), wire);
    if (width < 0)
        QVERIFY2(reportedWidth > 0, "the normal passband is reported as a width");
    else
        QCOMPARE(int(reportedWidth), width);
}

void TestKrRig::ptt_data()
{
    QTest::addColumn<int>("ptt");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("off") << 0 << QByteArray("TX0");
    QTest::newRow("on") << 1 << QByteArray("TX1");
    QTest::newRow("on from the microphone") << 2 << QByteArray("TX1");
    QTest::newRow("on from the data input") << 3 << QByteArray("TX1");
}

void TestKrRig::ptt()
{
    QFETCH(int, ptt);
    QFETCH(QByteArray, wire);
    std::unique_ptr<KrRig> rig;
    RIG_TRY(rig = connectRig(radio->portName()));
    // Start from the other state, so that every row changes something.
    RIG_TRY(rig->setPTT(ptt ? RIG_PTT_OFF : RIG_PTT_ON, RIG_VFO_CURR));
    radio->takeCommands();

    ptt_t reported = RIG_PTT_OFF;
    RIG_TRY(rig->setPTT(ptt_t(ptt), RIG_VFO_CURR));
    QVERIFY(radio->takeCommands().contains(wire));
    RIG_TRY(reported = rig->getPTT(RIG_VFO_CURR));
    QCOMPARE(reported != RIG_PTT_OFF, ptt != 0);
    QCOMPARE(radio->withRadio([](Ft991Protocol& state) { return state.transmitting(); }), ptt != 0);
    waitPastCache();
    RIG_TRY(reported = rig->getPTT(RIG_VFO_CURR));
    QCOMPARE(reported != RIG_PTT_OFF, ptt != 0);
}

void TestKrRig::vfo_data()
{
    QTest::addColumn<uint>("before");
    QTest::addColumn<uint>("vfo");
    QTest::addColumn<double>("frequency");

    QTest::newRow("VFO B") << uint(RIG_VFO_A) << uint(RIG_VFO_B) << 7074000.0;
    QTest::newRow("VFO A after B") << uint(RIG_VFO_B) << uint(RIG_VFO_A) << 14074000.0;
    QTest::newRow("sub") << uint(RIG_VFO_A) << uint(RIG_VFO_SUB) << 7074000.0;
    QTest::newRow("main after sub") << uint(RIG_VFO_SUB) << uint(RIG_VFO_MAIN) << 14074000.0;
    QTest::newRow("current keeps B") << uint(RIG_VFO_B) << uint(RIG_VFO_CURR) << 7074000.0;
}

void TestKrRig::vfo()
{
    QFETCH(uint, before);
    QFETCH(uint, vfo);
    QFETCH(double, frequency);
    std::unique_ptr<KrRig> rig;
    RIG_TRY(rig = connectRig(radio->portName()));
    freq_t reported = 0;
    RIG_TRY(rig->setVFO(before));
    RIG_TRY(rig->setVFO(vfo));
    RIG_TRY(reported = rig->getFreq(RIG_VFO_CURR));
    QCOMPARE(reported, frequency);
}

void TestKrRig::levels_data()
{
    QTest::addColumn<int>("ptt");
    QTest::addColumn<int>("meter");
    QTest::addColumn<double>("level");

    QTest::newRow("no signal") << 0 << 0 << 0.0;
    QTest::newRow("middle signal") << 0 << 123 << 123.0;
    QTest::newRow("full signal") << 0 << 255 << 255.0;
    QTest::newRow("no ALC") << 1 << 0 << 0.0;
    QTest::newRow("middle ALC") << 1 << 60 << 0.9375;
    QTest::newRow("full ALC") << 1 << 255 << 1.0;
}

void TestKrRig::levels()
{
    QFETCH(int, ptt);
    QFETCH(int, meter);
    QFETCH(double, level);
    radio->setSignal(ptt ? 200 : meter);
    radio->setAlc(ptt ? meter : 200);
    std::unique_ptr<KrRig> rig;
    RIG_TRY(rig = connectRig(radio->portName()));
    RIG_TRY(rig->setPTT(ptt_t(ptt), RIG_VFO_CURR));
    if (ptt) {
        float alc = -1;
        RIG_TRY(alc = rig->getLevelF(RIG_LEVEL_ALC, RIG_VFO_CURR));
        QCOMPARE(alc, float(level));
    } else {
        int strength = -1;
        RIG_TRY(strength = rig->getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR));
        QCOMPARE(strength, int(level));
    }
}

void TestKrRig::radioThatStopsAnsweringRecovers()
{
    std::unique_ptr<KrRig> rig;
    RIG_TRY(rig = connectRig(radio->portName()));
    radio->setAnswering(false);
    radio->resetCommandCount();
    waitPastCache();
    QElapsedTimer clock;
    clock.start();
    QVERIFY_EXCEPTION_THROWN(rig->getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR), RigException);
    qInfo("a read from a silent radio gave up after %lld ms", clock.elapsed());
    // A silent radio still hears what it is sent.
    QVERIFY(radio->commandCount() > 0);

    radio->setAnswering(true);
    radio->withRadio([](Ft991Protocol& state) { state.setSignal(77); });
    int strength = -1;
    RIG_TRY(strength = rig->getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR));
    QCOMPARE(strength, 77);
}

void TestKrRig::portThatVanishesWhileOpen()
{
    StdoutCapture capture;
    {
        std::unique_ptr<KrRig> rig;
        RIG_TRY(rig = connectRig(radio->portName()));
        radio->vanish();
        waitPastCache();
        QVERIFY_EXCEPTION_THROWN(rig->getFreq(RIG_VFO_CURR), RigException);
        QVERIFY_EXCEPTION_THROWN(rig->getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR), RigException);
        try {
            rig->close();
        } catch (const RigException&) {
            // Either answer is fine; what matters is that the rig can still be released.
        }
    }
    QCOMPARE(destructionLines(capture), 1);
}

void TestKrRig::closedRigNoLongerTalks()
{
    std::unique_ptr<KrRig> rig;
    RIG_TRY(rig = connectRig(radio->portName()));
    RIG_TRY(rig->close());
    radio->resetCommandCount();
    waitPastCache();
    QVERIFY_EXCEPTION_THROWN(rig->getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR), RigException);
    QVERIFY_EXCEPTION_THROWN(rig->setFreq(7000000, RIG_VFO_CURR), RigException);
    QCOMPARE(radio->commandCount(), 0);
}

void TestKrRig::simulatorTool()
{
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("rig"));
    LineProcess tool;
    tool.start(
        QStringLiteral(ORVESSA_RIGSIM), {QStringLiteral("--link"), link}, QProcessEnvironment::systemEnvironment());
    const QString port = tool.waitForLine(QRegularExpression(QStringLiteral("^/dev/pts/\\d+$")));
    QVERIFY2(!port.isEmpty(), tool.standardError().constData());
    QCOMPARE(QFile::symLinkTarget(link), port);

    for (const QString& path : {port, link}) {
        std::unique_ptr<KrRig> rig;
        RIG_TRY(rig = connectRig(path));
        int strength = -1;
        RIG_TRY(rig->setFreq(21074000, RIG_VFO_CURR));
        RIG_TRY(strength = rig->getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR));
        QVERIFY(strength > 0);
    }
    tool.terminate();
    QCOMPARE(tool.waitForExit(), 0);
    QVERIFY2(!QFileInfo(link).isSymLink(), "the link outlived the simulator");
}

QTEST_GUILESS_MAIN(TestKrRig)
#include "tst_krrig.moc"
