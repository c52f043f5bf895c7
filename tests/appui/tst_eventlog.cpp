#include "EventLog.h"
#include "TestSupport.h"
#include "ThemeManager.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QtTest>

#include <cmath>

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

// Whether c is one of the shades the glyph edges of ink take on ground: a
// colour the antialiasing draws anyway, which tells nothing of the ink.
bool onEdgeRamp(const QColor& ground, const QColor& ink, const QColor& c, int tol)
{
    for (int i = 1; i < 20; ++i) {
        const double t = i / 20.0;
        const auto mix = [t](int g, int k) { return int(g + (k - g) * t + 0.5); };
        if (qAbs(mix(ground.red(), ink.red()) - c.red()) <= tol && qAbs(mix(ground.green(), ink.green()) - c.green()) <= tol
            && qAbs(mix(ground.blue(), ink.blue()) - c.blue()) <= tol)
            return true;
    }
    return false;
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

        // A line wider than the panel is cut at its edge; hovering it shows
        // it whole, wrapped within the screen.
        log.resize(300, 160);
        log.show();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        QStringList keys;
        for (int k = 1; k <= 17; ++k)
            keys << QStringLiteral("F%1").arg(k);
        log.addEntry(entry(QStringLiteral("The added tabs reuse 17 keys of tab 1 'Main': %1. A shared key plays the "
                                          "later button (on the current tab, its own).")
                               .arg(keys.join(", ")),
                           "warn"));
        QListWidget* list = log.list();
        QListWidgetItem* longLine = list->item(1);
        const QRect at = list->visualItemRect(longLine);
        QVERIFY(list->fontMetrics().horizontalAdvance(longLine->text()) > list->viewport()->width());
        QHelpEvent hover(QEvent::ToolTip, at.center(), list->viewport()->mapToGlobal(at.center()));
        QApplication::sendEvent(list->viewport(), &hover);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText().trimmed(), longLine->text());
        QWidget* tipLabel = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->inherits("QTipLabel") && top->isVisible())
                tipLabel = top;
        QVERIFY(tipLabel);
        QVERIFY2(tipLabel->width() <= tipLabel->screen()->availableGeometry().width(),
                 qPrintable(QString::number(tipLabel->width())));
        QVERIFY(tipLabel->height() >= 2 * tipLabel->fontMetrics().lineSpacing());   // wrapped
        QToolTip::hideText();

        log.setVisible(false);
        QCOMPARE(log.list()->count(), 2);   // hiding keeps the lines
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
        QCOMPARE(EventLog::statusHue("OK"), QColor("#777"));
        QCOMPARE(EventLog::statusHue("info"), QColor("#777"));
        QCOMPARE(EventLog::statusHue(""), QColor("#777"));
        // #777 reads on no dark ground: the grey drawn is a lighter one.
        const QColor grey = EventLog::statusColor("OK");
        QCOMPARE(EventLog::statusColor("info"), grey);
        QCOMPARE(EventLog::statusColor(""), grey);
        QVERIFY(grey.red() == grey.green() && grey.green() == grey.blue() && grey.red() > 0x77);

        // The accent, #E31B23, reads at 3.7 : 1 on the Dark ground: its errors
        // are drawn in a lighter red of the same hue.
        log.addEntry(entry("Decode failed", "error"));
        const QColor darkError = log.list()->item(1)->foreground().color();
        QCOMPARE(darkError, EventLog::statusColor("error"));
        QCOMPARE(EventLog::statusHue("error"), QColor("#E31B23"));
        QVERIFY(ThemeManager::relativeLuminance(darkError) > ThemeManager::relativeLuminance(QColor("#E31B23")));
        QVERIFY(qAbs(darkError.hsvHueF() - QColor("#E31B23").hsvHueF()) < 0.01);
        // Errors take the accent of the theme in use, old lines too.
        ThemeManager::instance()->applyPreset(ThemeManager::NavyOrange);
        log.addEntry(entry("Decode failed again", "error"));
        QCOMPARE(log.list()->item(1)->foreground().color(), QColor("#F97316"));
        QCOMPARE(log.list()->item(2)->foreground().color(), QColor("#F97316"));

        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        log.log("Session", "Saved", "ok");
        const QString line = log.list()->item(3)->text();
        QVERIFY(line.endsWith("] Session: Saved"));
        const QTime stamped = QTime::fromString(line.mid(1, 8), "hh:mm:ss");
        QVERIFY(stamped.isValid());
        QVERIFY(qAbs(stamped.secsTo(before.time())) <= 2 || qAbs(stamped.secsTo(before.time())) >= 86398);

        // Lines written under one theme, then read under others, dark and
        // light: each in its status's shade for the theme now in use, and
        // reading at 4.5 : 1 on its grounds (WCAG's ratio, worked out here).
        const auto luminance = [](const QColor& c) {
            double sum = 0;
            const double weight[3] = {0.2126, 0.7152, 0.0722};
            const int channel[3] = {c.red(), c.green(), c.blue()};
            for (int i = 0; i < 3; ++i) {
                const double v = channel[i] / 255.0;
                sum += weight[i] * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
            }
            return sum;
        };
        const auto ratio = [&](const QColor& a, const QColor& b) {
            const double la = luminance(a), lb = luminance(b);
            return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
        };
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        EventLog old;
        const QStringList statuses = {"ok", "warn", "error", "info"};
        for (const QString& s : statuses)
            old.addEntry(entry(QStringLiteral("written under Dark"), s));
        for (ThemeManager::Preset p : {ThemeManager::LightClassic, ThemeManager::Dark, ThemeManager::LightBlue,
                                       ThemeManager::DeepBlack}) {
            ThemeManager::instance()->applyPreset(p);
            const ThemeColors& c = ThemeManager::instance()->colors();
            for (int i = 0; i < statuses.size(); ++i) {
                const QColor drawn = old.list()->item(i)->foreground().color();
                const QString what = QStringLiteral("preset %1, %2: %3").arg(int(p)).arg(statuses[i], drawn.name());
                QVERIFY2(drawn == EventLog::statusColor(statuses[i]), qPrintable(what));
                QVERIFY2(ratio(drawn, c.bg) >= 4.5 && ratio(drawn, c.surfaceHover) >= 4.5, qPrintable(what));
            }
        }
    }

    // Each rendered line shows its own status colour, also under the global
    // style sheet, and none falls back to the list's muted text colour.
    void renderedColours_data()
    {
        QTest::addColumn<int>("preset");
        QTest::newRow("red") << int(ThemeManager::Red);
        QTest::newRow("lightblue") << int(ThemeManager::LightBlue);
        QTest::newRow("dark") << int(ThemeManager::Dark);
        QTest::newRow("deepblack") << int(ThemeManager::DeepBlack);
        QTest::newRow("green") << int(ThemeManager::Green);
        QTest::newRow("purple") << int(ThemeManager::Purple);
        QTest::newRow("lightclassic") << int(ThemeManager::LightClassic);
        QTest::newRow("slate") << int(ThemeManager::Slate);
        QTest::newRow("navyorange") << int(ThemeManager::NavyOrange);
    }
    void renderedColours()
    {
        QFETCH(int, preset);
        ThemeManager* tm = ThemeManager::instance();
        tm->applyPreset(ThemeManager::Preset(preset));
        QCoreApplication::processEvents();   // the global sheet is applied by a posted call
        QCOMPARE(qApp->styleSheet(), tm->styleSheet());

        // Every line reads as text (4.5 : 1) on the list's ground and on the
        // hover wash under the pointer. A status colour that does not is
        // shaded, keeping its hue, darker on a light ground and lighter on a
        // dark one, just far enough; one that reads is kept as it is.
        const ThemeColors& c = tm->colors();
        const bool lightGround = ThemeManager::relativeLuminance(c.bg) > 0.5;
        for (const QString& s : {"ok", "warn", "error", "info"}) {
            const QColor hue = EventLog::statusHue(s);
            const QColor drawn = EventLog::statusColor(s);
            const QString what = s + QStringLiteral(": ") + drawn.name() + QStringLiteral(" for ") + hue.name();
            const double onBg = ThemeManager::contrast(drawn, c.bg);
            const double onHover = ThemeManager::contrast(drawn, c.surfaceHover);
            QVERIFY2(onBg >= 4.5 && onHover >= 4.5, qPrintable(what));
            if (ThemeManager::contrast(hue, c.bg) >= 4.5 && ThemeManager::contrast(hue, c.surfaceHover) >= 4.5) {
                QCOMPARE(drawn, hue);
                continue;
            }
            QVERIFY2(std::min(onBg, onHover) < 5.5, qPrintable(what));   // not further than reading needs
            if (hue.hsvHue() < 0)
                QVERIFY2(drawn.red() == drawn.green() && drawn.green() == drawn.blue(), qPrintable(what));
            else
                QVERIFY2(qAbs(drawn.hsvHueF() - hue.hsvHueF()) < 0.01, qPrintable(what));
            const double was = ThemeManager::relativeLuminance(hue), is = ThemeManager::relativeLuminance(drawn);
            QVERIFY2(lightGround ? is < was : is > was, qPrintable(what));
        }

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
            // (Where the muted colour is one of the line's own edge shades,
            // a grey line on a dark ground, the count cannot tell them apart.)
            if (onEdgeRamp(tm->colors().bg, want, muted, 10))
                continue;
            QVERIFY2(countNear(img, r, muted, 10) < hits / 4,
                     qPrintable(QStringLiteral("%1 drawn in the muted colour: %2 pixels near %3, %4 near %5")
                                    .arg(statuses[i]).arg(countNear(img, r, muted, 10)).arg(muted.name())
                                    .arg(hits).arg(want.name())));
        }
        qApp->setStyleSheet(QString());
    }
};

QTEST_MAIN(TestEventLog)
#include "tst_eventlog.moc"
