// What the readers of the settings make of values written by hand: the
// low-latency engine never asks a device for more than 4096 frames, the
// theme keeps a family that would break its style sheet out, the buttons
// keep their marks on.
#include <QtTest>

#include "AudioEngine.h"
#include "SettingsKeys.h"
#include "SettingsTestUtil.h"
#include "SoundButton.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "WasapiEngine.h"

class TestSettingsReaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }

    void engineBufferFrames_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<int>("frames");
        QTest::newRow("-64") << QByteArray("-64") << 128;
        QTest::newRow("0") << QByteArray("0") << 128;
        QTest::newRow("100") << QByteArray("100") << 100;
        QTest::newRow("5000") << QByteArray("5000") << 128;
        QTest::newRow("int max") << QByteArray("2147483647") << 128;
        QTest::newRow("text") << QByteArray("fast") << 128;
        QTest::newRow("4096") << QByteArray("4096") << 4096;
    }

    // Exclusive mode hands the stored buffer straight to the device.
    void engineBufferFrames()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(int, frames);
        QVERIFY(SettingsTest::writeStore("[audio]\nengine=wasapi_exclusive\nbuffer=" + buffer + "\n"));
        int asked = -1;
        WasapiEngine engine;
        engine.setOutputFactory([&](AudioOutput::Backend, const AudioOutputConfig& cfg) -> std::unique_ptr<AudioOutput> {
            if (cfg.mode == ShareMode::Exclusive)
                asked = cfg.periodFrames;
            return AudioOutput::openBackend(AudioOutput::Backend::Null, cfg);
        });
        QVERIFY(engine.init(QString()));
        engine.shutdown();
        QCOMPARE(asked, frames);
    }

    void themeFromBadValues_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("px");
        QTest::addColumn<QString>("accent");
        const QString builtIn = ThemeManager().fontFamily();
        QTest::newRow("fine") << QByteArray("font=Arial\nfontPx=14\naccent=#2196F3\n") << QStringLiteral("Arial") << 14
                              << QStringLiteral("#2196f3");
        QTest::newRow("style sheet break-out") << QByteArray("font=\"x;}QWidget{background:red\"\nfontPx=100000\n")
                                               << builtIn << 12 << QString();
        QTest::newRow("lists") << QByteArray("font=Arial, Consolas\nfontPx=12, 14\naccent=#111111, #222222\n") << builtIn
                               << 12 << QString();
    }

    void themeFromBadValues()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, family);
        QFETCH(int, px);
        QFETCH(QString, accent);
        QVERIFY(SettingsTest::writeStore("[appearance]\n" + ini));
        ThemeManager tm;
        QCOMPARE(tm.fontFamily(), family);
        QCOMPARE(tm.fontPx(), px);
        QCOMPARE(tm.colors().accent.name(),
                 accent.isEmpty() ? ThemeManager::colorsForPreset(ThemeManager::Dark).accent.name() : accent);
        QVERIFY(!tm.styleSheet().contains(QStringLiteral("background:red")));
    }

    void buttonMarksAndDevice_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<bool>("scissor");
        QTest::addColumn<QString>("device");
        QTest::newRow("missing") << QByteArray() << true << true << QString();
        QTest::newRow("written") << QByteArray("[appearance]\nshowLoopIcon=false\nshowScissorIcon=1\n[audio]\ndevice=hw-2\n")
                                 << false << true << QStringLiteral("hw-2");
        QTest::newRow("bad") << QByteArray("[appearance]\nshowLoopIcon=maybe\nshowScissorIcon=7\n[audio]\ndevice=a, b\n")
                             << true << true << QString();
    }

    void buttonMarksAndDevice()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, loop);
        QFETCH(bool, scissor);
        QFETCH(QString, device);
        QVERIFY(SettingsTest::writeStore(ini));
        SoundButton::refreshIconSettingsCache();
        QCOMPARE(SoundButton::showLoopIcon(), loop);
        QCOMPARE(SoundButton::showScissorIcon(), scissor);
        AudioEngine engine;
        QCOMPARE(engine.defaultDeviceId(), device);
    }
};

QTEST_MAIN(TestSettingsReaders)
#include "tst_settings_readers.moc"
