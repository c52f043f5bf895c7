// Reading the service's reply, comparing versions and the offer's texts.
#include <QtTest>

#include "UpdateCheck.h"
#include "WebAddress.h"

class TestUpdateCheck : public QObject
{
    Q_OBJECT
private slots:
    void versions_data()
    {
        QTest::addColumn<QString>("latest");
        QTest::addColumn<bool>("newer"); // than 2.0.84
        QTest::newRow("same") << "2.0.84" << false;
        QTest::newRow("longer number") << "2.0.100" << true;
        QTest::newRow("shorter number") << "2.0.9" << false;
        QTest::newRow("fourth part") << "2.0.84.1" << true;
        QTest::newRow("zero fourth part") << "2.0.84.0" << false;
        QTest::newRow("minor") << "2.1" << true;
        QTest::newRow("major") << "3" << true;
        QTest::newRow("older major") << "1.99.999" << false;
        QTest::newRow("suffix") << "2.0.85-beta" << true;
        QTest::newRow("prefix v") << "v2.1" << false;
        QTest::newRow("letters") << "abc" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("leading blank") << " 2.1" << false; // the reply's texts are trimmed before
        QTest::newRow("signed part") << "2.0.+999" << false;
        QTest::newRow("negative part") << "2.1.-5" << true;
    }
    void versions()
    {
        QFETCH(QString, latest);
        QFETCH(bool, newer);
        QCOMPARE(UpdateCheck::isNewer(latest, QStringLiteral("2.0.84")), newer);
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("json");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("flags"); // force, active and download all set
        QTest::newRow("whole") << QByteArray(R"({"success":true,"latest_version":" 2.1 ","download_url":" http://h/p ",)"
                                                R"("update_notes":"  n  ","force_update":true,)"
                                                R"("update_active":true,"enable_download":true})")
                               << true << true << "2.1" << true;
        QTest::newRow("empty object") << QByteArray("{}") << true << false << "" << false;
        QTest::newRow("array") << QByteArray(R"([{"success":true,"latest_version":"9"}])") << true << false << ""
                               << false;
        QTest::newRow("text true") << QByteArray(R"({"success":"true","latest_version":"9"})") << true << false
                                   << "9" << false;
        QTest::newRow("number version") << QByteArray(R"({"success":true,"latest_version":2.1})") << true << true
                                        << "" << false;
        QTest::newRow("flags as numbers")
            << QByteArray(R"({"success":1,"force_update":1,"update_active":"yes","enable_download":1})") << true
            << false << "" << false;
        QTest::newRow("not json") << QByteArray("<html>502 Bad Gateway</html>") << false << false << "" << false;
        QTest::newRow("cut json") << QByteArray(R"({"success":true,"latest_)") << false << false << "" << false;
        QTest::newRow("empty body") << QByteArray() << false << false << "" << false;
    }
    void replies()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, json);
        QFETCH(bool, success);
        QFETCH(QString, version);
        QFETCH(bool, flags);
        UpdateCheck::Config c;
        QString error;
        QCOMPARE(UpdateCheck::parse(body, &c, &error), json);
        QCOMPARE(error.isEmpty(), json);
        if (!json)
            return;
        QCOMPARE(c.success, success);
        QCOMPARE(c.latestVersion, version);
        QCOMPARE(c.forceUpdate, flags);
        QCOMPARE(c.updateActive, flags);
        QCOMPARE(c.enableDownload, flags);
        if (flags) {
            QCOMPARE(c.downloadUrl, QStringLiteral("http://h/p"));
            QCOMPARE(c.notes, QStringLiteral("n"));
        }
    }

    void offerTexts_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<bool>("force");
        QTest::addColumn<QString>("text");
        const QString n80 = QString(80, QLatin1Char('a'));
        QTest::newRow("no notes") << "2.1" << "" << false << "🆕 <b>New Version v2.1 available!</b>";
        QTest::newRow("short notes") << "2.1" << "0123456789" << false
                                     << "🆕 <b>New Version v2.1 available!</b> &nbsp;·&nbsp; 0123456789…";
        QTest::newRow("80 characters") << "2.1" << n80 << false
                                       << "🆕 <b>New Version v2.1 available!</b> &nbsp;·&nbsp; " + n80.left(60) + "…";
        QTest::newRow("markup in notes") << "2.1" << "<img src=x onerror=y> & more" << false
                                         << "🆕 <b>New Version v2.1 available!</b> &nbsp;·&nbsp; "
                                            "&lt;img src=x onerror=y&gt; &amp; more…";
        QTest::newRow("markup in version") << "2.1<b>" << "" << false << "🆕 <b>New Version v2.1&lt;b&gt; available!</b>";
        QTest::newRow("urgent") << "2.2" << "ignored" << true << "⚠ <b>Urgent Update:</b> v2.2 available!";
        QTest::newRow("urgent, markup") << "<i>3</i>" << "" << true
                                        << "⚠ <b>Urgent Update:</b> v&lt;i&gt;3&lt;/i&gt; available!";
    }
    void offerTexts()
    {
        QFETCH(QString, version);
        QFETCH(QString, notes);
        QFETCH(bool, force);
        QFETCH(QString, text);
        QCOMPARE(UpdateCheck::offerText(version, notes, force), text);
    }

    void fetchable_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("ok");
        QTest::newRow("https") << "https://example.invalid/p.deb" << true;
        QTest::newRow("http") << "http://127.0.0.1:8080/p.deb" << true;
        QTest::newRow("upper case scheme") << "HTTPS://example.invalid/p" << true;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("ftp") << "ftp://example.invalid/p.deb" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("no host") << "http:///p.deb" << false;
        QTest::newRow("relative") << "/p.deb" << false;
        QTest::newRow("data") << "data:text/plain,hello" << false;
    }
    void fetchable()
    {
        QFETCH(QString, url);
        QFETCH(bool, ok);
        QCOMPARE(WebAddress::isFetchable(QUrl(url)), ok);
    }

    void styles()
    {
        const QString normal = UpdateCheck::barStyleSheet(false);
        const QString urgent = UpdateCheck::barStyleSheet(true);
        for (const char* c : {"#0A2A0A", "#2ECC71", "#90EE90", "#1E8A3E"}) {
            QVERIFY(normal.contains(QLatin1String(c)));
            QVERIFY(!urgent.contains(QLatin1String(c)));
        }
        for (const char* c : {"#5A0A0A", "#FF4444", "#FF8888", "#CC2222"})
            QVERIFY(urgent.contains(QLatin1String(c)));
        QCOMPARE(UpdateCheck::endpoint(QStringLiteral("http://127.0.0.1:5")).toString(),
                 QStringLiteral("http://127.0.0.1:5/wp-json/tarvello-config/v1/settings"));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
