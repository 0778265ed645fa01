// The simulated Icom's CI-V framing and addressing, which Hamlib never exercises: bytes arriving in pieces,
// noise, collisions and frames that are not the radio's.
#include "Ic7300Protocol.h"

#include <QTest>

namespace {

QByteArray bytes(const char* hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace

class TestRigsim : public QObject
{
    Q_OBJECT

private slots:
    void frames_data();
    void frames();
    void replies_data();
    void replies();
};

void TestRigsim::frames_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("frames");

    const QByteArray readFrequency = bytes("FEFE94E003FD");
    QTest::newRow("frame split across reads")
        << QList<QByteArray> {bytes("FEFE94"), bytes("E003FD")} << QList<QByteArray> {readFrequency};
    QTest::newRow("preamble split across reads")
        << QList<QByteArray> {bytes("00FE"), bytes("FE94E003FD")} << QList<QByteArray> {readFrequency};
    QTest::newRow("two frames in one read") << QList<QByteArray> {readFrequency + bytes("FEFE94E01C00FD")}
                                            << QList<QByteArray> {readFrequency, bytes("FEFE94E01C00FD")};
    QTest::newRow("noise before the preamble")
        << QList<QByteArray> {bytes("0012FD") + readFrequency} << QList<QByteArray> {readFrequency};
    QTest::newRow("collision restarts the frame")
        << QList<QByteArray> {bytes("FEFE94E00500") + readFrequency} << QList<QByteArray> {readFrequency};
    QTest::newRow("long power-on preamble")
        << QList<QByteArray> {bytes("FEFEFEFEFE94E01801FD")} << QList<QByteArray> {bytes("FEFEFEFEFE94E01801FD")};
    QTest::newRow("runaway frame dropped, next one read")
        << QList<QByteArray> {bytes("FEFE94E0") + QByteArray(80, 0x01), readFrequency}
        << QList<QByteArray> {readFrequency};
}

void TestRigsim::frames()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, frames);

    Ic7300Protocol radio;
    QByteArray pending;
    QList<QByteArray> taken;
    for (const QByteArray& read : reads) {
        pending += read;
        QByteArray frame;
        while (!(frame = radio.takeCommand(pending)).isEmpty())
            taken << frame;
    }
    QCOMPARE(taken, frames);
}

void TestRigsim::replies_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("reply goes to the sender") << false << bytes("FEFE94E003FD")
                                              << bytes("FEFEE0940300400714"
                                                       "00FD");
    QTest::newRow("broadcast is answered") << false << bytes("FEFE00E01C00FD") << bytes("FEFEE0941C0000FD");
    QTest::newRow("another radio's frame") << false << bytes("FEFE70E003FD") << QByteArray();
    QTest::newRow("a radio's own frame") << false << bytes("FEFEE09403FD") << QByteArray();
    QTest::newRow("echo, then the reply") << true << bytes("FEFE94E01C0001FD") << bytes("FEFE94E01C0001FDFEFEE094FBFD");
    QTest::newRow("echo of a frame for another radio") << true << bytes("FEFE70E003FD") << bytes("FEFE70E003FD");
    QTest::newRow("unknown command refused") << false << bytes("FEFE94E0EEFD") << bytes("FEFEE094FAFD");
    QTest::newRow("frequency with a non-decimal digit")
        << false << bytes("FEFE94E0050A00000700FD") << bytes("FEFEE094FAFD");
}

void TestRigsim::replies()
{
    QFETCH(bool, echo);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);

    Ic7300Protocol radio;
    radio.setEcho(echo);
    QCOMPARE(radio.answer(frame).toHex(' '), reply.toHex(' '));
}

QTEST_APPLESS_MAIN(TestRigsim)
#include "tst_rigsim.moc"
