// The settings key table read from files written by hand: every wrong type,
// out-of-range value and broken file reads as the key's default.
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtTest>

#include "AppSettings.h"
#include "SettingsKeys.h"
#include "SettingsTestUtil.h"
#include "TestSupport.h"

namespace {

QString settingsFile()
{
    return SettingsTest::storePath();
}

void writeStore(const QByteArray& ini)
{
    QVERIFY(SettingsTest::writeStore(ini));
}

QByteArray iniFor(const QString& key, const QByteArray& raw)
{
    const int slash = key.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return "[General]\n" + key.toUtf8() + "=" + raw + "\n";
    return "[" + key.left(slash).toUtf8() + "]\n" + key.mid(slash + 1).toUtf8() + "=" + raw + "\n";
}

} // namespace

class TestSettingsKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }

    void handWrittenValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QVariant>("expected");

        const QString buffer = SettingsKeys::AudioBuffer;
        QTest::newRow("buffer -64") << buffer << QByteArray("-64") << QVariant(128);
        QTest::newRow("buffer 0") << buffer << QByteArray("0") << QVariant(128);
        QTest::newRow("buffer 100") << buffer << QByteArray("100") << QVariant(100);
        QTest::newRow("buffer 16") << buffer << QByteArray("16") << QVariant(16);
        QTest::newRow("buffer 15") << buffer << QByteArray("15") << QVariant(128);
        QTest::newRow("buffer 4096") << buffer << QByteArray("4096") << QVariant(4096);
        QTest::newRow("buffer 5000") << buffer << QByteArray("5000") << QVariant(128);
        QTest::newRow("buffer int max") << buffer << QByteArray("2147483647") << QVariant(128);
        QTest::newRow("buffer past 64 bits") << buffer << QByteArray("99999999999999999999999") << QVariant(128);
        QTest::newRow("buffer text") << buffer << QByteArray("abc") << QVariant(128);
        QTest::newRow("buffer list") << buffer << QByteArray("256, 512") << QVariant(128);
        QTest::newRow("buffer empty") << buffer << QByteArray("") << QVariant(128);

        const QString px = SettingsKeys::AppearanceFontPx;
        QTest::newRow("fontPx 100000") << px << QByteArray("100000") << QVariant(0);
        QTest::newRow("fontPx 6") << px << QByteArray("6") << QVariant(6);
        QTest::newRow("fontPx 72") << px << QByteArray("72") << QVariant(72);
        QTest::newRow("fontPx 5") << px << QByteArray("5") << QVariant(0);
        QTest::newRow("fontPx -12") << px << QByteArray("-12") << QVariant(0);

        const QString loop = SettingsKeys::AppearanceShowLoopIcon;
        QTest::newRow("bool false") << loop << QByteArray("false") << QVariant(false);
        QTest::newRow("bool 0") << loop << QByteArray("0") << QVariant(false);
        QTest::newRow("bool 1") << loop << QByteArray("1") << QVariant(true);
        QTest::newRow("bool maybe") << loop << QByteArray("maybe") << QVariant(true);
        QTest::newRow("bool 2") << loop << QByteArray("2") << QVariant(true);
        QTest::newRow("bool list") << loop << QByteArray("false, false") << QVariant(true);
        QTest::newRow("showLog yes") << SettingsKeys::AdvancedShowLog << QByteArray("yes") << QVariant(false);
        QTest::newRow("showLog true") << SettingsKeys::AdvancedShowLog << QByteArray("true") << QVariant(true);

        const QString font = SettingsKeys::AppearanceFont;
        QTest::newRow("font plain") << font << QByteArray("Arial") << QVariant(QStringLiteral("Arial"));
        QTest::newRow("font breaks out") << font << QByteArray("\"Arial;}QWidget{background:red\"") << QVariant(QString());
        QTest::newRow("font brace") << font << QByteArray("Ari{al") << QVariant(QString());
        QTest::newRow("font quote") << font << QByteArray("Ari\\\"al") << QVariant(QString());
        QTest::newRow("font list") << font << QByteArray("Arial, Helvetica") << QVariant(QString());

        const QString accent = SettingsKeys::AppearanceAccent;
        QTest::newRow("accent mixed case") << accent << QByteArray("#12abEF") << QVariant(QStringLiteral("#12abEF"));
        QTest::newRow("accent name") << accent << QByteArray("red") << QVariant(QString());
        QTest::newRow("accent short") << accent << QByteArray("#12345") << QVariant(QString());
        QTest::newRow("accent not hex") << accent << QByteArray("#12345g") << QVariant(QString());
        QTest::newRow("accent latin-1 letter") << accent << QByteArray("#12345\xc3\xa9") << QVariant(QString());

        const QString dl = SettingsKeys::LibraryDownloadPath;
        const QVariant dlDefault = SettingsKeys::defaultDownloadFolder();
        QTest::newRow("download empty") << dl << QByteArray("") << dlDefault;
        QTest::newRow("download relative") << dl << QByteArray("music/vx") << dlDefault;
        QTest::newRow("download windows") << dl << QByteArray("\"C:\\\\VX Library\"") << dlDefault;
        QTest::newRow("download list") << dl << QByteArray("/a, /b") << dlDefault;
        QTest::newRow("download absolute") << dl << QByteArray("/srv/vx/") << QVariant(QStringLiteral("/srv/vx"));

        QTest::newRow("autosave 120") << SettingsKeys::AdvancedAutosave << QByteArray("120") << QVariant(120);
        QTest::newRow("autosave 90") << SettingsKeys::AdvancedAutosave << QByteArray("90") << QVariant(0);
        QTest::newRow("autosave -5") << SettingsKeys::AdvancedAutosave << QByteArray("-5") << QVariant(0);
        QTest::newRow("autosave 300") << SettingsKeys::AdvancedAutosave << QByteArray("300") << QVariant(300);
        QTest::newRow("device list") << SettingsKeys::AudioDevice << QByteArray("a, b") << QVariant(QString());
        QTest::newRow("preset list") << SettingsKeys::AppearancePreset << QByteArray("dark, red")
                                     << QVariant(QStringLiteral("default"));
        QTest::newRow("recent one entry") << SettingsKeys::RecentFiles << QByteArray("/s/a.vx")
                                          << QVariant(QStringList{QStringLiteral("/s/a.vx")});
        QTest::newRow("service not http") << SettingsKeys::UpdateServiceUrl << QByteArray("ftp://127.0.0.1")
                                          << QVariant(SettingsKeys::kDefaultServiceUrl);
        QTest::newRow("service trailing slash") << SettingsKeys::UpdateServiceUrl << QByteArray("http://127.0.0.1:8080/")
                                                << QVariant(QStringLiteral("http://127.0.0.1:8080"));
    }

    void handWrittenValues()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, raw);
        QFETCH(QVariant, expected);
        writeStore(iniFor(key, raw));
        QCOMPARE(SettingsKeys::read(key), expected);
    }

    // A reader's own default stands in for the table's when the value is bad.
    void readerDefaults_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << QByteArray() << QStringLiteral("Segoe UI");
        QTest::newRow("bad") << QByteArray("a{b") << QStringLiteral("Segoe UI");
        QTest::newRow("good") << QByteArray("Consolas") << QStringLiteral("Consolas");
    }

    void readerDefaults()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, expected);
        writeStore(raw.isNull() ? QByteArray() : iniFor(SettingsKeys::AppearanceFont, raw));
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AppearanceFont, QStringLiteral("Segoe UI")), expected);
    }

    // Whole files that are no settings at all: every key reads its default.
    void brokenStores_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("random bytes") << 0;
        QTest::newRow("folder in place of the file") << 1;
    }

    void brokenStores()
    {
        QFETCH(int, kind);
        const QString path = settingsFile();
        QFile::remove(path);
        QDir(path).removeRecursively();
        if (kind == 0) {
            QByteArray junk;
            quint32 x = 12345;
            for (int i = 0; i < 4096; ++i) {
                x = x * 1103515245u + 12345u;
                junk.append(char(x >> 16));
            }
            junk.replace('\n', '=');   // no line a parser could take whole
            writeStore(junk);
        } else {
            QVERIFY(QDir().mkpath(path));
        }
        const QStringList keys{SettingsKeys::AudioBuffer, SettingsKeys::AudioDevice,
                               SettingsKeys::AudioPreload, SettingsKeys::AppearanceFontPx,
                               SettingsKeys::AppearanceShowLoopIcon, SettingsKeys::AppearanceFont,
                               SettingsKeys::AppearancePreset, SettingsKeys::LibraryDownloadPath};
        for (const QString& k : keys)
            QCOMPARE(SettingsKeys::read(k), SettingsKeys::defaultValue(k));
        QDir(path).removeRecursively();
    }

    void defaultDownloadFolderIsUnderMusic()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        const QString base = music.isEmpty() ? QDir::homePath() : music;
        QCOMPARE(SettingsKeys::defaultDownloadFolder(), QDir::cleanPath(base + QStringLiteral("/VX Library")));
    }
};

QTEST_GUILESS_MAIN(TestSettingsKeys)
#include "tst_settingskeys.moc"
