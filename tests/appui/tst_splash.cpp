#include "SplashScreen.h"
#include "TestSupport.h"

#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

QRect barRect(const SplashScreen& s)
{
    return QRect(s.barArea()->mapTo(&s, QPoint(0, 0)), s.barArea()->size());
}

bool isTrack(const QColor& c)
{
    return qAbs(c.red() - 0x24) <= 3 && qAbs(c.green() - 0x24) <= 3 && qAbs(c.blue() - 0x28) <= 3;
}

bool isFill(const QColor& c)
{
    return c.red() > 150 && c.green() < 120 && c.blue() < 110;
}

QList<qreal> positionsOf(const QGradientStops& stops, const QColor& c)
{
    QList<qreal> out;
    for (const auto& s : stops)
        if (s.second == c)
            out << s.first;
    return out;
}

} // namespace

class TestSplash : public QObject
{
    Q_OBJECT
private slots:
    void window()
    {
        SplashScreen s;
        QCOMPARE(s.size(), QSize(460, 340));
        QVERIFY(s.windowFlags().testFlag(Qt::SplashScreen));
        QVERIFY(s.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(s.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(s.windowModality(), Qt::ApplicationModal);
        QCOMPARE(s.statusText(), QStringLiteral("Initializing..."));
        s.setStatus("Loading session...");
        QCOMPARE(s.statusText(), QStringLiteral("Loading session..."));
        QVERIFY(s.repaintTimer()->isActive());
        QCOMPARE(s.repaintTimer()->interval(), 33);
        QCOMPARE(s.barArea()->height(), 4);
    }

    void progressIsClamped()
    {
        SplashScreen s;
        QCOMPARE(s.progress(), 0);
        s.setProgress(-5);
        QCOMPARE(s.progress(), 0);
        s.setProgress(140);
        QCOMPARE(s.progress(), 100);
        s.setProgress(42);
        QCOMPARE(s.progress(), 42);
    }

    void shimmerStops()
    {
        const QColor mid("#E31B23"), hi("#FF6B5B"), edge("#B71518");
        const QGradientStops early = SplashScreen::fillStops(0.1);
        QCOMPARE(positionsOf(early, hi), QList<qreal>{0.1});
        QCOMPARE(positionsOf(early, mid).size(), 1);
        QVERIFY(positionsOf(early, mid).first() > 0.1);   // none before the highlight
        const QGradientStops late = SplashScreen::fillStops(0.9);
        QCOMPARE(positionsOf(late, mid).size(), 1);
        QVERIFY(positionsOf(late, mid).first() < 0.9);    // none after it
        const QGradientStops middle = SplashScreen::fillStops(0.5);
        QCOMPARE(middle.size(), 5);
        QVERIFY(qFuzzyCompare(middle[1].first, 0.32));
        QVERIFY(qFuzzyCompare(middle[3].first, 0.68));
        QCOMPARE(middle.first().second, edge);
        QCOMPARE(middle.last().second, edge);
        for (int i = 1; i < middle.size(); ++i)
            QVERIFY(middle[i - 1].first <= middle[i].first);
    }

    void paintedBar()
    {
        SplashScreen s;
        s.setShimmerPhase(0.5);
        s.show();
        const QRect bar = barRect(s);
        QVERIFY(bar.width() > 300);
        const int y = bar.center().y();

        QImage img = s.grab().toImage();
        for (int x = bar.left() + 3; x < bar.right() - 3; x += 7)
            QVERIFY2(isTrack(img.pixelColor(x, y)), qPrintable(QString::number(x)));   // progress 0: track only

        s.setProgress(50);
        img = s.grab().toImage();
        QVERIFY(isFill(img.pixelColor(bar.left() + bar.width() / 4, y)));
        QVERIFY(isTrack(img.pixelColor(bar.left() + bar.width() * 3 / 4, y)));

        // 1 % of a bar under 50 pixels is at most half a pixel: no fill at all.
        s.barArea()->setFixedWidth(40);
        s.layout()->activate();
        const QRect narrow = barRect(s);
        QCOMPARE(narrow.width(), 40);
        s.setProgress(1);
        img = s.grab().toImage();
        QVERIFY(isTrack(img.pixelColor(narrow.left() + 1, narrow.center().y())));
        QVERIFY(isTrack(img.pixelColor(narrow.left() + 2, narrow.center().y())));
    }

    void logo()
    {
        SplashScreen s;
        const QString badge = s.logoLabel()->styleSheet();
        QVERIFY(badge.contains("border-radius:60px"));
        s.setLogoPixmap(QPixmap());
        QCOMPARE(s.logoLabel()->styleSheet(), badge);   // no logo found: the red badge stays
        QVERIFY(s.logoLabel()->pixmap().isNull());

        QPixmap logo(300, 200);
        logo.fill(QColor(0, 200, 0));
        s.setLogoPixmap(logo);
        QCOMPARE(s.logoLabel()->styleSheet(), QStringLiteral("background:transparent;"));
        const QImage shown = s.logoLabel()->pixmap().toImage();
        QCOMPARE(shown.size(), QSize(120, 80));
        QCOMPARE(shown.pixelColor(0, 0).alpha(), 0);          // rounded corner
        QCOMPARE(shown.pixelColor(60, 40), QColor(0, 200, 0));
    }

    void finishOnce()
    {
        QPointer<SplashScreen> s = new SplashScreen;
        s->show();
        QSignalSpy spy(s.data(), &SplashScreen::finished);
        s->setProgress(30);
        s->finish();
        s->finish();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(s->progress(), 100);
        QVERIFY(!s->repaintTimer()->isActive());
        QVERIFY(s->isVisible());                // still shown for 50 ms
        QVERIFY(s->finishTimer()->isActive());
        QCOMPARE(s->finishTimer()->interval(), 50);
        TestSupport::fireTimer(s->finishTimer());
        QVERIFY(!s->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(s.isNull());
    }
};

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
