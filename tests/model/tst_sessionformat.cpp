#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "Types.h"

namespace {
QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

QString hashId(const QString& name)
{
    return QString::number(quint64(qHash(name, size_t(0))));
}

// Goes through the file's text form, as a save and a load would.
Session throughText(const Session& s)
{
    const QByteArray text = QJsonDocument(s.toJson()).toJson(QJsonDocument::Indented);
    return Session::fromJson(QJsonDocument::fromJson(text).object());
}

ButtonData fullButton(int i)
{
    ButtonData b;
    b.id = QStringLiteral("b-%1").arg(i);
    b.name = QStringLiteral("Jingle %1 \u00e9\u266b").arg(i);
    b.audioPath = QStringLiteral("/music/j%1.wav").arg(i);
    b.outputDevice = QStringLiteral("dev-2");
    b.key = QStringLiteral("Ctrl+%1").arg(i);
    b.img = QStringLiteral("iVBORw0KGgo=");
    b.bgColor = QColor(0x12, 0xab, 0xef);
    b.textColor = QColor(255, 255, 255);
    b.fontSize = 14;
    b.midiNote = 0;
    b.midiCh = 3;
    b.loop = true;
    b.super = true;
    b.rapid = true;
    b.trimStart = 0.25;
    b.trimEnd = 3.5;
    b.volume = 1.75;
    b.fadeIn = 0.1;
    b.fadeOut = 2;
    return b;
}
} // namespace

class TstSessionFormat : public QObject
{
    Q_OBJECT
private slots:
    void emptyObjectReadsDefaults()
    {
        const Session s = Session::fromJson(QJsonObject());
        QCOMPARE(s, Session());
        QVERIFY(s.tabs.isEmpty());
        QCOMPARE(s.globalVolume, 0.85);
        QVERIFY(s.restart && s.crossTabStop && !s.autoStop);
        QCOMPARE(s.buttonsPerTab, 36);
        QCOMPARE(s.layoutMode, 1);
    }

    void sessionWritesEveryTopLevelKey()
    {
        const QJsonObject o = Session().toJson();
        QCOMPARE(o.value("version").toInt(), 2);
        for (const char* k : {"activeTab", "globalVolume", "playback", "tabs", "buttonsPerTab", "gridCols", "gridRows",
                              "layoutMode"})
            QVERIFY2(o.contains(k), k);
        QVERIFY(!o.contains("filePath"));
        const QJsonObject pb = o.value("playback").toObject();
        QCOMPARE(pb.keys(), QStringList({"autoStop", "crossTabStop", "restart"}));
    }

    void tabIdComesFromNameWhenMissing()
    {
        const TabData t = TabData::fromJson(parse(R"({"name":"Jingles"})"));
        QCOMPARE(t.id, hashId("Jingles"));
        QCOMPARE(t.name, QString("Jingles"));
        QCOMPARE(t.fadeMs, 100.0);
        QCOMPARE(t.volume, 1.0);
        QVERIFY(t.pb_rs && t.pb_cts && !t.pb_as && !t.useTabPb);
        QCOMPARE(t.stopMidi, -1);
        QCOMPARE(t.volCC, -1);
        QVERIFY(t.buttons.isEmpty());

        // Two id-less tabs of the same name share an id; another name does not.
        QCOMPARE(TabData::fromJson(parse(R"({"name":"Jingles","id":""})")).id, t.id);
        QVERIFY(TabData::fromJson(parse(R"({"name":"Beds"})")).id != t.id);

        // Neither id nor name: the id is made from the empty text, the name is "Tab".
        const TabData bare = TabData::fromJson(QJsonObject());
        QCOMPARE(bare.name, QString("Tab"));
        QCOMPARE(bare.id, hashId(QString()));
        // A name that is not a string counts as empty for the id and as "Tab" for the name.
        const TabData odd = TabData::fromJson(parse(R"({"name":7})"));
        QCOMPARE(odd.id, hashId(QString()));
        QCOMPARE(odd.name, QString("Tab"));

        // An explicit id wins; an empty name string stays empty.
        const TabData named = TabData::fromJson(parse(R"({"id":"t1","name":""})"));
        QCOMPARE(named.id, QString("t1"));
        QCOMPARE(named.name, QString());

        // Button ids are never made on read.
        QCOMPARE(ButtonData::fromJson(parse(R"({"name":"x"})")).id, QString());
    }

    void volumesAreClampedOnRead_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<double>("tab");
        QTest::addColumn<double>("button");
        QTest::addColumn<double>("master");
        QTest::newRow("in range") << QByteArray("0.5") << 0.5 << 0.5 << 0.5;
        QTest::newRow("tab max") << QByteArray("1.7") << 1.0 << 1.7 << 1.0;
        QTest::newRow("button max") << QByteArray("3.5") << 1.0 << 2.0 << 1.0;
        QTest::newRow("negative") << QByteArray("-0.3") << 0.0 << 0.0 << 0.0;
        QTest::newRow("minus one") << QByteArray("-1") << 0.0 << 0.0 << 0.0;
        QTest::newRow("zero") << QByteArray("0") << 0.0 << 0.0 << 0.0;
        QTest::newRow("string") << QByteArray("\"0.5\"") << 1.0 << 1.0 << 0.85;
        QTest::newRow("null") << QByteArray("null") << 1.0 << 1.0 << 0.85;
        QTest::newRow("huge") << QByteArray("1e308") << 1.0 << 2.0 << 1.0;
        QTest::newRow("three") << QByteArray("3") << 1.0 << 2.0 << 1.0;
        QTest::newRow("minus two") << QByteArray("-2") << 0.0 << 0.0 << 0.0;
        // JSON text has no NaN; a record built in memory can hold one.
        QTest::newRow("nan") << QByteArray("nan") << 0.0 << 0.0 << 0.0;
    }
    void volumesAreClampedOnRead()
    {
        QFETCH(QByteArray, value);
        QFETCH(double, tab);
        QFETCH(double, button);
        QFETCH(double, master);
        QJsonObject o;
        if (value == "nan") {
            o.insert(QLatin1String("volume"), qQNaN());
            o.insert(QLatin1String("globalVolume"), qQNaN());
        } else {
            o = QJsonDocument::fromJson("{\"volume\":" + value + ",\"globalVolume\":" + value + "}").object();
        }
        QVERIFY(!o.isEmpty());
        QCOMPARE(TabData::fromJson(o).volume, tab);
        QCOMPARE(ButtonData::fromJson(o).volume, button);
        QCOMPARE(Session::fromJson(o).globalVolume, master);
    }

    void tabPlaybackRulesOnlyWithOverride()
    {
        const TabData off = TabData::fromJson(parse(R"({"useTabPb":false,"pb_as":true,"pb_rs":false,"pb_cts":false})"));
        QVERIFY(!off.pb_as && off.pb_rs && off.pb_cts);
        const TabData on = TabData::fromJson(parse(R"({"useTabPb":true,"pb_as":true,"pb_rs":false,"pb_cts":false})"));
        QVERIFY(on.useTabPb && on.pb_as && !on.pb_rs && !on.pb_cts);

        TabData t;
        t.pb_as = true;
        t.pb_rs = false;
        QJsonObject o = t.toJson();
        for (const char* k : {"useTabPb", "pb_as", "pb_rs", "pb_cts"})
            QVERIFY2(!o.contains(k), k);
        t.useTabPb = true;
        o = t.toJson();
        QCOMPARE(o.value("useTabPb"), QJsonValue(true));
        QCOMPARE(o.value("pb_as"), QJsonValue(true));
        QCOMPARE(o.value("pb_rs"), QJsonValue(false));
        QCOMPARE(o.value("pb_cts"), QJsonValue(true));
    }

    void writtenWhenRules()
    {
        // A default button carries only its id, name and file, all empty.
        const QJsonObject d = ButtonData().toJson();
        QCOMPARE(d.keys(), QStringList({"audioPath", "id", "name"}));
        for (const QString& k : d.keys())
            QCOMPARE(d.value(k), QJsonValue(QString()));

        ButtonData b;
        b.midiNote = 0;
        b.midiCh = 0;
        b.volume = 0.0;
        b.trimStart = -2; // below zero is never written
        b.fontSize = -3;
        QJsonObject o = b.toJson();
        QCOMPARE(o.value("midiNote"), QJsonValue(0));
        QCOMPARE(o.value("midiCh"), QJsonValue(0));
        QCOMPARE(o.value("volume"), QJsonValue(0.0));
        QVERIFY(!o.contains("trimStart"));
        QVERIFY(!o.contains("fontSize"));
        QVERIFY(!o.contains("loop"));

        // A default tab: id, name, fadeMs and the (empty) buttons only.
        const QJsonObject t = TabData().toJson();
        QCOMPARE(t.keys(), QStringList({"buttons", "fadeMs", "id", "name"}));
        QCOMPARE(t.value("fadeMs"), QJsonValue(100.0));
        TabData m;
        m.stopMidi = 0;
        m.volCC = 127;
        m.volume = 0.999;
        const QJsonObject mo = m.toJson();
        QCOMPARE(mo.value("stopMidi"), QJsonValue(0));
        QCOMPARE(mo.value("volCC"), QJsonValue(127));
        QCOMPARE(mo.value("volume"), QJsonValue(0.999));
    }

    void colours()
    {
        ButtonData b;
        b.bgColor = QColor(0xAA, 0x0B, 0xCC, 40);
        const QJsonObject o = b.toJson();
        QCOMPARE(o.value("bgColor").toString(), QString("#aa0bcc"));
        const ButtonData back = ButtonData::fromJson(o);
        QCOMPARE(back.bgColor, QColor(0xAA, 0x0B, 0xCC));
        QCOMPARE(back.bgColor.alpha(), 255);
        QVERIFY(!back.textColor.isValid());

        QVERIFY(!ButtonData::fromJson(parse(R"({"bgColor":"no colour"})")).bgColor.isValid());
        QVERIFY(!ButtonData::fromJson(parse(R"({"bgColor":12})")).bgColor.isValid());
        QVERIFY(!ButtonData::fromJson(parse(R"({"textColor":""})")).textColor.isValid());
        QCOMPARE(ButtonData::fromJson(parse(R"({"textColor":"#FFF"})")).textColor, QColor(Qt::white));
        QCOMPARE(TabData::fromJson(parse(R"({"color":"#00ff00"})")).color, QColor(Qt::green));
        QVERIFY(!TabData::fromJson(parse(R"({"color":null})")).color.isValid());
    }

    void everyValueOfTheWrongTypeGivesDefaults()
    {
        // Every key present, none of the right JSON type.
        const QJsonObject btn = parse(R"({"id":1,"name":[],"audioPath":{},"outputDevice":true,"key":2,"img":null,
            "bgColor":[1],"textColor":{},"fontSize":"12","midiNote":1.5,"midiCh":"3","loop":1,"super":"true",
            "rapid":[],"trimStart":"1","trimEnd":true,"volume":"2","fadeIn":{},"fadeOut":[]})");
        QCOMPARE(ButtonData::fromJson(btn), ButtonData());

        QJsonObject tab = parse(R"({"id":5,"name":{},"color":3,"soundCard":[],"fadeMs":"9","volume":false,
            "useTabPb":"yes","pb_as":1,"pb_rs":0,"pb_cts":0,"stopKey":1,"stopMidi":2.5,"volUpKey":{},
            "volDnKey":[],"volCC":"7","buttons":{"0":{}}})");
        TabData expect;
        expect.id = hashId(QString());
        expect.name = QStringLiteral("Tab");
        QCOMPARE(TabData::fromJson(tab), expect);

        const QJsonObject top = parse(R"({"activeTab":"2","globalVolume":"0.3","playback":[true],
            "tabs":{"a":1},"buttonsPerTab":24.5,"gridCols":null,"gridRows":"4","layoutMode":true})");
        QCOMPARE(Session::fromJson(top), Session());
        const QJsonObject pb = parse(R"({"playback":{"autoStop":"1","restart":0,"crossTabStop":null}})");
        QCOMPARE(Session::fromJson(pb), Session());
    }

    void elementsThatAreNotObjectsReadAsDefaults()
    {
        const Session s = Session::fromJson(parse(R"({"tabs":[1,"x",{"name":"B","buttons":[null,{"id":"k"},[]]}]})"));
        QCOMPARE(s.tabs.size(), 3);
        QCOMPARE(s.tabs[0].name, QString("Tab"));
        QCOMPARE(s.tabs[2].buttons.size(), 3);
        QCOMPARE(s.tabs[2].buttons[1].id, QString("k"));
        QCOMPARE(s.tabs[2].buttons[0], ButtonData());
    }

    void valuesTakenAsRead()
    {
        const Session s = Session::fromJson(
            parse(R"({"activeTab":40,"globalVolume":0.4,"buttonsPerTab":5,"gridCols":-2,"gridRows":99,"layoutMode":3,
                       "tabs":[{"fadeMs":-250.5}]})"));
        QCOMPARE(s.activeTab, 40);
        QCOMPARE(s.globalVolume, 0.4);
        QCOMPARE(s.buttonsPerTab, 5);
        QCOMPARE(s.gridCols, -2);
        QCOMPARE(s.gridRows, 99);
        QCOMPARE(s.layoutMode, 3);
        QCOMPARE(s.tabs[0].fadeMs, -250.5);
    }

    void roundTripKeepsEverything()
    {
        Session s;
        s.activeTab = 1;
        s.globalVolume = 0.6;
        s.filePath = QStringLiteral("/somewhere/set.vx");
        s.autoStop = true;
        s.restart = false;
        s.crossTabStop = false;
        s.buttonsPerTab = 72;
        s.gridCols = 9;
        s.gridRows = 8;
        s.layoutMode = 4;
        for (int t = 0; t < 3; ++t) {
            TabData tab;
            tab.id = QStringLiteral("tab-%1").arg(t);
            tab.name = QStringLiteral("Tab \"%1\"").arg(t);
            tab.color = QColor(10 * t, 20, 30);
            tab.soundCard = QStringLiteral("card");
            tab.fadeMs = 250.5;
            tab.volume = 0.4;
            tab.useTabPb = t == 1;
            tab.pb_as = t == 1;
            tab.pb_rs = false;
            tab.pb_cts = t != 1;
            tab.stopKey = QStringLiteral("F%1").arg(t + 1);
            tab.stopMidi = 60 + t;
            tab.volUpKey = QStringLiteral("Up");
            tab.volDnKey = QStringLiteral("Down");
            tab.volCC = 7;
            for (int i = 0; i < 5; ++i)
                tab.buttons << fullButton(i);
            tab.buttons << ButtonData();
            s.tabs << tab;
        }
        s.tabs[0].pb_rs = true; // without the override the file keeps no rules,
        s.tabs[2].pb_rs = true; // so they read back as the defaults

        Session expect = s;
        expect.filePath.clear();
        QCOMPARE(throughText(s), expect);
    }

    void roundTripLosesWhatTheWriterLeavesOut()
    {
        Session s;
        TabData t;
        t.name = QStringLiteral("NoId");
        t.volume = 1.5;
        ButtonData b;
        b.id = QStringLiteral("x");
        b.trimStart = -1;
        b.fadeOut = -0.5;
        b.fontSize = -4;
        b.midiNote = -7;
        b.volume = 2.5;
        b.textColor = QColor(1, 2, 3, 4);
        t.buttons << b;
        s.tabs << t;

        const Session back = throughText(s);
        const TabData& bt = back.tabs.at(0);
        QCOMPARE(bt.id, hashId("NoId"));
        QCOMPARE(bt.volume, 1.0);
        const ButtonData& bb = bt.buttons.at(0);
        QCOMPARE(bb.trimStart, 0.0);
        QCOMPARE(bb.fadeOut, 0.0);
        QCOMPARE(bb.fontSize, 0);
        QCOMPARE(bb.midiNote, -1);
        QCOMPARE(bb.volume, 2.0);
        QCOMPARE(bb.textColor, QColor(1, 2, 3));
    }

    void metaTypesAreRegistered()
    {
        registerSessionTypes();
        QVERIFY(QMetaType::fromName("ButtonData").isValid());
        QVERIFY(QMetaType::fromName("Session").isValid());
        QVERIFY(QMetaType::fromName("QList<TabData>").isValid());
        ButtonData b = fullButton(3);
        const QVariant v = QVariant::fromValue(b);
        QCOMPARE(v.value<ButtonData>(), b);
    }
};

QTEST_GUILESS_MAIN(TstSessionFormat)
#include "tst_sessionformat.moc"
