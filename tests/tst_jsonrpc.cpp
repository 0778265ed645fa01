// The JSON-RPC layer's wire rules without a network: framing of the incoming text, argument conversion,
// value rendering and request ids.
#include "server/jcon/JsonRpcFramer.h"
#include "server/jcon/JsonRpcValue.h"
#include "server/jcon/VariantToString.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

Q_DECLARE_METATYPE(jcon::ArgumentFit)

namespace {

QString compact(const QJsonValue& value)
{
    return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
}

QJsonValue json(const QString& text)
{
    return QJsonDocument::fromJson(QStringLiteral("[%1]").arg(text).toUtf8()).array().at(0);
}

} // namespace

class TestJsonRpc : public QObject
{
    Q_OBJECT

private slots:
    void framing_data();
    void framing();
    void arguments_data();
    void arguments();
    void rendering_data();
    void rendering();
    void requestIds_data();
    void requestIds();
    void valueTexts_data();
    void valueTexts();
};

void TestJsonRpc::framing_data()
{
    QTest::addColumn<QStringList>("messages");
    // Each object cut out, in compact form, and how many times "Malformed request" was due.
    QTest::addColumn<QStringList>("objects");
    QTest::addColumn<int>("malformed");

    const QString one = R"({"id":1,"p":"x"})";
    const QString two = R"({"id":2,"p":"y"})";
    const int bound = jcon::JsonRpcFramer::maxPendingBytes;
    const QString large(bound - 1024, 'y');
    QTest::newRow("two objects in one message") << QStringList {one + two} << QStringList {one, two} << 0;
    QTest::newRow("blanks between and around objects")
        << QStringList {" \r\n" + one + "\n \t" + two + "\n "} << QStringList {one, two} << 0;
    QTest::newRow("object over three messages")
        << QStringList {one.left(3), one.mid(3, 6), one.mid(9)} << QStringList {one} << 0;
    QTest::newRow("braces inside a string") << QStringList {R"({"p":"}{"})"} << QStringList {R"({"p":"}{"})"} << 0;
    QTest::newRow("escaped quote before a brace")
        << QStringList {R"({"p":"a\"}b"})"} << QStringList {R"({"p":"a\"}b"})"} << 0;
    QTest::newRow("escaped backslash ends the string")
        << QStringList {R"({"p":"a\\"})" + two} << QStringList {R"({"p":"a\\"})", two} << 0;
    QTest::newRow("blanks at a split inside a string survive")
        << QStringList {R"({"p":"a  )", R"(  b"})"} << QStringList {R"({"p":"a    b"})"} << 0;
    QTest::newRow("garbage after an object does not swallow the next message")
        << QStringList {one + "xyz", two} << QStringList {one, two} << 1;
    QTest::newRow("stray closing brace after an object") << QStringList {one + "}", two} << QStringList {one, two} << 1;
    QTest::newRow("start of an object after one is kept")
        << QStringList {one + R"( {"id":)", "3}"} << QStringList {one, R"({"id":3})"} << 0;
    QTest::newRow("batch is dropped, the next message is read")
        << QStringList {"[" + one + "]", two} << QStringList {two} << 1;
    QTest::newRow("garbage before an object loses that message")
        << QStringList {"x" + one, two} << QStringList {two} << 1;
    QTest::newRow("empty and all-blank messages") << QStringList {"", " \n\t"} << QStringList {} << 2;
    QTest::newRow("object that is not JSON is dropped silently")
        << QStringList {R"({"a": })", two} << QStringList {two} << 0;
    QTest::newRow("unclosed object takes later messages until balanced")
        << QStringList {R"({"p":[)", R"("{"], )", R"("q":4})"} << QStringList {R"({"p":["{"],"q":4})"} << 0;
    QTest::newRow("unfinished object past the bound is dropped")
        << QStringList {R"({"p":")" + QString(bound / 2, 'x'), QString(bound / 2, 'x'), two} << QStringList {two} << 1;
    QTest::newRow("object just under the bound arrives whole")
        << QStringList {R"({"p":")" + large.left(10), large.mid(10) + R"("})"}
        << QStringList {R"({"p":")" + large + R"("})"} << 0;
}

void TestJsonRpc::framing()
{
    QFETCH(QStringList, messages);
    QFETCH(QStringList, objects);
    QFETCH(int, malformed);
    jcon::JsonRpcFramer framer;
    QStringList cut;
    int reported = 0;
    for (const QString& message : messages) {
        framer.append(message.toUtf8());
        reported += framer.takeMalformed() ? 1 : 0;
        while (const std::optional<QJsonObject> object = framer.next()) {
            cut << compact(*object);
        }
        reported += framer.takeMalformed() ? 1 : 0;
    }
    QCOMPARE(cut, objects);
    QCOMPARE(reported, malformed);
}

void TestJsonRpc::arguments_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<jcon::ArgumentFit>("fit");
    QTest::addColumn<QVariant>("converted");

    using Fit = jcon::ArgumentFit;
    QTest::newRow("number for double") << QByteArray("double") << "3" << Fit::Converted << QVariant(3.0);
    QTest::newRow("numeric text for double") << QByteArray("double") << R"("2.5")" << Fit::Converted << QVariant(2.5);
    QTest::newRow("letters for double") << QByteArray("double") << R"("abc")" << Fit::Unfit << QVariant();
    QTest::newRow("text for a text reference")
        << QByteArray("QString&") << R"("ab")" << Fit::Converted << QVariant(QStringLiteral("ab"));
    QTest::newRow("number for a text reference") << QByteArray("QString&") << "5" << Fit::Unfit << QVariant();
    QTest::newRow("highest port") << QByteArray("quint16") << "65535" << Fit::Converted
                                  << QVariant::fromValue<quint16>(65535);
    QTest::newRow("port past the range is refused") << QByteArray("quint16") << "65537" << Fit::Unfit << QVariant();
    QTest::newRow("negative port is refused") << QByteArray("quint16") << "-1" << Fit::Unfit << QVariant();
    QTest::newRow("port as text") << QByteArray("quint16") << R"("7400")" << Fit::Converted
                                  << QVariant::fromValue<quint16>(7400);
    QTest::newRow("int past 32 bits is refused") << QByteArray("int") << "4294967297" << Fit::Unfit << QVariant();
    QTest::newRow("lowest int") << QByteArray("int") << "-2147483648" << Fit::Converted << QVariant(INT_MIN);
    QTest::newRow("model number") << QByteArray("uint") << "4294967295" << Fit::Converted << QVariant(4294967295u);
    QTest::newRow("negative model number is refused") << QByteArray("uint") << "-1" << Fit::Unfit << QVariant();
    QTest::newRow("list for a text list")
        << QByteArray("QStringList") << R"(["a",""])" << Fit::Converted << QVariant(QStringList {"a", ""});
    QTest::newRow("object for a text list") << QByteArray("QStringList") << R"({"a":1})" << Fit::Unfit << QVariant();
    QTest::newRow("object for a map") << QByteArray("QVariantMap") << R"({"a":1})" << Fit::Converted
                                      << QVariant(QVariantMap {{"a", 1.0}});
    QTest::newRow("null is no value") << QByteArray("QString&") << "null" << Fit::NoValue << QVariant();
    QTest::newRow("nothing fits a pointer") << QByteArray("jcon::JsonRpcEndpoint*") << "{}" << Fit::Unfit << QVariant();
}

void TestJsonRpc::arguments()
{
    QFETCH(QByteArray, type);
    QFETCH(QString, argument);
    QFETCH(jcon::ArgumentFit, fit);
    QFETCH(QVariant, converted);
    QVariant result;
    QCOMPARE(jcon::convertArgument(type, json(argument).toVariant(), result), fit);
    QCOMPARE(result, converted);
}

void TestJsonRpc::rendering_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("renderable");

    const QString text
        = QString::fromUtf8("Citt\u00e0 \"q\" \\ \b\f\n\r\t \x01\x1f\x7f \u263a \U0001f600 ") + QChar(0xd800) + "x";
    QTest::newRow("no value") << QVariant() << true;
    QTest::newRow("text with every escape") << QVariant(text) << true;
    QTest::newRow("numbers in a list") << QVariant(
        QVariantList {-7, qlonglong(1) << 62, 14074000.5, 1e15, 1e21, 1e-7, 0.1f, 4294967295u, 0.0, -2.5e-10})
                                       << true;
    QTest::newRow("nested, empty and null")
        << QVariant(QVariantMap {{"list", QVariantList {1, "two", QVariantMap {{"k", true}}, QVariant()}},
                                 {"empty map", QVariantMap()},
                                 {"empty list", QVariantList()}})
        << true;
    QTest::newRow("map with bytes, as a QSO is relayed")
        << QVariant(QVariantMap {{"UDPData", QByteArray("QQ==\xc3\xa9\x01")}, {"CacheID", "not implemented"}}) << true;
    QTest::newRow("kinds only Qt converts, inside a map")
        << QVariant(QVariantMap {{"strings", QStringList {"a"}}, {"hash", QVariantHash {{"x", 1}}}, {"id", 1035u}})
        << true;
    QTest::newRow("keys beyond ASCII, in order") << QVariant(
        QVariantMap {{QString::fromUtf8("\u00e9"), 1}, {"z", 2}, {"Z", 3}, {QString::fromUtf8("\U0001f600"), 4}})
                                                 << true;
    QTest::newRow("unsigned has no form") << QVariant(7u) << false;
    QTest::newRow("text list has no form") << QVariant(QStringList {"a"}) << false;
    QTest::newRow("bytes alone have no form") << QVariant(QByteArray("a")) << false;
}

void TestJsonRpc::rendering()
{
    QFETCH(QVariant, value);
    QFETCH(bool, renderable);
    QCOMPARE(jcon::isRenderable(value), renderable);
    // Pages may compare texts: the layout is exactly Qt's own, which is the reference here.
    const QJsonValue inQt = QJsonValue::fromVariant(value);
    const QByteArray reference
        = inQt.isObject() ? QJsonDocument(inQt.toObject()).toJson() : QJsonDocument(QJsonArray {inQt}).toJson();
    QByteArray written = inQt.isObject() ? "" : "[\n    ";
    jcon::writeJson(value, inQt.isObject() ? 0 : 1, written);
    written += inQt.isObject() ? "\n" : "\n]\n";
    QCOMPARE(QString::fromUtf8(written), QString::fromUtf8(reference));
}

void TestJsonRpc::requestIds_data()
{
    QTest::addColumn<QJsonValue>("id");
    // The id text of the answer; empty marks a notification, never answered.
    QTest::addColumn<QString>("text");

    const QStringList answered {"7", "7.5", R"("7")", "true", "false", "0"};
    const QStringList texts {"7", "7.5", "7", "true", "false", "0"};
    for (int i = 0; i < answered.size(); ++i) {
        QTest::addRow("%s", qPrintable(answered.at(i))) << json(answered.at(i)) << texts.at(i);
    }
    for (const char* notification : {"null", R"("")", "[1]", R"({"a":1})"}) {
        QTest::addRow("%s is no id", notification) << json(notification) << QString();
    }
    QTest::newRow("absent is no id") << QJsonValue(QJsonValue::Undefined) << QString();
}

void TestJsonRpc::requestIds()
{
    QFETCH(QJsonValue, id);
    QFETCH(QString, text);
    QCOMPARE(jcon::requestIdText(id), text);
}

void TestJsonRpc::valueTexts_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("list of one") << QVariant(QVariantList {1}) << "list (1 elements)";
    QTest::newRow("empty map") << QVariant(QVariantMap()) << "map (0 elements)";
    QTest::newRow("text") << QVariant(QStringLiteral("/dev/ttyUSB0")) << "/dev/ttyUSB0";
    QTest::newRow("bool") << QVariant(false) << "false";
    QTest::newRow("no value") << QVariant() << "N/A";
}

void TestJsonRpc::valueTexts()
{
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QCOMPARE(jcon::variantToString(value), text);
}

QTEST_APPLESS_MAIN(TestJsonRpc)
#include "tst_jsonrpc.moc"
