#include "EventLog.h"
#include "TestSupport.h"
#include "ThemeManager.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

EventLog::Entry entry(const QString& text, const QString& status = QStringLiteral("ok"))
{
    return EventLog::Entry{QDateTime(QDate(2024, 5, 1), QTime(9, 5, 3)), QStringLiteral("Audio"), text, status};
}

int countNear(const QImage& img, const QRect& r, const QColor& c, int tol)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor p = img.pixelColor(x, y);
            if (qAbs(p.red() - c.red()) <= tol && qAbs(p.green() - c.green()) <= tol
                && qAbs(p.blue() - c.blue()) <= tol)
                ++n;
        }
    return n;
}

} // namespace

class TestEventLog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
    }

    void structure()
    {
        EventLog log;
        QCOMPARE(log.objectName(), QStringLiteral("eventLog"));
        QCOMPARE(log.list()->objectName(), QStringLiteral("eventLogList"));
        QVERIFY(log.findChild<QWidget*>("eventLogHdr"));
        QCOMPARE(log.maximumHeight(), 160);
        QCOMPARE(log.minimumHeight(), 100);

        QSignalSpy closeSpy(&log, &EventLog::closeRequested);
        auto* close = log.findChild<QPushButton*>();
        QVERIFY(close);
        QCOMPARE(close->text(), QStringLiteral("✕"));
        close->click();
        QCOMPARE(closeSpy.count(), 1);

        log.log("Transport", "Stop all", "warn");
        log.setVisible(false);
        QCOMPARE(log.list()->count(), 1);   // hiding keeps the lines
        log.clear();
        QCOMPARE(log.list()->count(), 0);
    }

    void keepsTheLast200()
    {
        EventLog log;
        for (int i = 1; i <= 201; ++i)
            log.addEntry(entry(QString::number(i)));
        QCOMPARE(log.list()->count(), 200);
        QCOMPARE(log.list()->item(0)->text(), QStringLiteral("[09:05:03] Audio: 2"));
        QCOMPARE(log.list()->item(199)->text(), QStringLiteral("[09:05:03] Audio: 201"));
        for (int i = 202; i <= 650; ++i)
            log.addEntry(entry(QString::number(i)));
        QCOMPARE(log.list()->count(), 200);
        QCOMPARE(log.list()->item(0)->text(), QStringLiteral("[09:05:03] Audio: 451"));
    }

    void lineTextAndColours()
    {
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        EventLog log;
        log.addEntry(entry("Playing: Intro", "ok"));
        QCOMPARE(log.list()->item(0)->text(), QStringLiteral("[09:05:03] Audio: Playing: Intro"));
        QCOMPARE(log.list()->item(0)->foreground().color(), QColor("#00C853"));
        QCOMPARE(EventLog::statusColor("warn"), QColor("#FF9800"));
        QCOMPARE(EventLog::statusColor("OK"), QColor("#777"));
        QCOMPARE(EventLog::statusColor("info"), QColor("#777"));
        QCOMPARE(EventLog::statusColor(""), QColor("#777"));

        log.addEntry(entry("Decode failed", "error"));
        QCOMPARE(log.list()->item(1)->foreground().color(), QColor("#E31B23"));
        // Lines keep the colour they were made with; later errors take the new accent.
        ThemeManager::instance()->applyPreset(ThemeManager::NavyOrange);
        log.addEntry(entry("Decode failed again", "error"));
        QCOMPARE(log.list()->item(1)->foreground().color(), QColor("#E31B23"));
        QCOMPARE(log.list()->item(2)->foreground().color(), QColor("#F97316"));

        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        log.log("Session", "Saved", "ok");
        const QString line = log.list()->item(3)->text();
        QVERIFY(line.endsWith("] Session: Saved"));
        const QTime stamped = QTime::fromString(line.mid(1, 8), "hh:mm:ss");
        QVERIFY(stamped.isValid());
        QVERIFY(qAbs(stamped.secsTo(before.time())) <= 2 || qAbs(stamped.secsTo(before.time())) >= 86398);
    }

    // Each rendered line shows its own status colour, also under the global
    // style sheet, and none falls back to the list's muted text colour.
    void renderedColours_data()
    {
        QTest::addColumn<int>("preset");
        QTest::newRow("red") << int(ThemeManager::Red);
        QTest::newRow("lightblue") << int(ThemeManager::LightBlue);
    }
    void renderedColours()
    {
        QFETCH(int, preset);
        ThemeManager* tm = ThemeManager::instance();
        tm->applyPreset(ThemeManager::Preset(preset));
        QCoreApplication::processEvents();   // the global sheet is applied by a posted call
        QCOMPARE(qApp->styleSheet(), tm->styleSheet());

        EventLog log;
        log.resize(360, 160);
        const QStringList statuses = {"ok", "warn", "error", "info"};
        for (const QString& s : statuses)
            log.addEntry(entry(QStringLiteral("MMMMMMMMMMMM %1 WWWWWWWW").arg(s), s));
        log.show();
        QCoreApplication::processEvents();
        const QImage img = log.grab().toImage();
        const QColor muted = tm->colors().textMuted;
        for (int i = 0; i < statuses.size(); ++i) {
            QListWidgetItem* item = log.list()->item(i);
            QRect r = log.list()->visualItemRect(item);
            r.translate(log.list()->viewport()->mapTo(&log, QPoint(0, 0)));
            r = r.intersected(img.rect());
            QVERIFY2(!r.isEmpty(), qPrintable(statuses[i]));
            const QColor want = EventLog::statusColor(statuses[i]);
            const int hits = countNear(img, r, want, 28);
            QVERIFY2(hits > 15, qPrintable(QStringLiteral("%1: %2 pixels in %3").arg(statuses[i]).arg(hits).arg(want.name())));
            QVERIFY2(countNear(img, r, muted, 10) < hits / 4,
                     qPrintable(QStringLiteral("%1 drawn in the muted colour").arg(statuses[i])));
        }
        qApp->setStyleSheet(QString());
    }
};

QTEST_MAIN(TestEventLog)
#include "tst_eventlog.moc"
