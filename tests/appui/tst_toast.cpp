#include "Modal.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "ToastManager.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

void endAnimation(QPropertyAnimation* a)
{
    QVERIFY(a);
    a->setCurrentTime(a->duration());   // reaches its end value and emits finished
}

// Takes the card on screen through fade-in, hold and fade-out.
void playOut(ToastWidget* card)
{
    QVERIFY(card);
    endAnimation(card->fadeAnimation());
    QVERIFY(card->holdTimer()->isActive());
    QCOMPARE(card->holdTimer()->interval(), card->holdMs());
    TestSupport::fireTimer(card->holdTimer());
    endAnimation(card->fadeAnimation());
}

// Runs a repeating timer's timeout once, leaving it running.
void tick(QTimer* timer)
{
    QVERIFY(timer && timer->isActive());
    QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Counts the times a widget is raised.
struct RaiseCount : QObject
{
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        count += e->type() == QEvent::ZOrderChange;
        return false;
    }
};

QString currentText(const ToastManager& m)
{
    return m.current() ? m.current()->property("toastMsg").toString() : QString();
}

} // namespace

class TestToast : public QObject
{
    Q_OBJECT
    std::unique_ptr<QWidget> window;
    std::unique_ptr<ToastManager> mgr;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
    }
    void init()
    {
        window = std::make_unique<QWidget>();
        window->setGeometry(100, 100, 1200, 700);
        window->show();
        mgr = std::make_unique<ToastManager>();
    }
    void cleanup()
    {
        mgr.reset();
        window.reset();
        flushDeletes();
    }

    void queueShowsInOrderWithGap()
    {
        mgr->show(window.get(), "one", ToastManager::Success, 1000);
        mgr->show(window.get(), "two", ToastManager::Warning, 2000);
        mgr->show(window.get(), "three", ToastManager::Error, 3000);
        QCOMPARE(currentText(*mgr), QStringLiteral("one"));
        QCOMPARE(mgr->queue().size(), 2);
        QVERIFY(mgr->isBusy());
        QCOMPARE(mgr->current()->holdMs(), 1000);

        const QStringList expected = {"two", "three"};
        for (const QString& next : expected) {
            QPointer<ToastWidget> card = mgr->current();
            QSignalSpy finished(card.data(), &ToastWidget::finished);
            playOut(card);
            QCOMPARE(finished.count(), 1);
            QVERIFY(!mgr->isBusy());
            // The next card waits for the gap timer.
            QVERIFY(mgr->nextTimer()->isActive());
            QCOMPARE(mgr->nextTimer()->interval(), 80);
            QCOMPARE(mgr->queue().first().text, next);
            flushDeletes();
            QVERIFY(card.isNull());
            QVERIFY(!mgr->current());
            TestSupport::fireTimer(mgr->nextTimer());
            QCOMPARE(currentText(*mgr), next);
        }
        QVERIFY(mgr->queue().isEmpty());
    }

    void repeatedTextIsDropped()
    {
        mgr->show(window.get(), "same", ToastManager::Info, 500);
        mgr->show(window.get(), "same", ToastManager::Info, 500);
        mgr->show(window.get(), "same", ToastManager::Error, 500);   // type differs: still dropped
        QVERIFY(mgr->queue().isEmpty());

        mgr->show(window.get(), "waiting", ToastManager::Info, 500);
        QWidget other;
        mgr->show(&other, "waiting", ToastManager::Success, 900);    // same text waiting: dropped
        QCOMPARE(mgr->queue().size(), 1);
        QCOMPARE(mgr->queue().first().type, ToastManager::Info);

        // Once the card has finished, the same text shows again.
        playOut(mgr->current());
        flushDeletes();
        TestSupport::fireTimer(mgr->nextTimer());
        QCOMPARE(currentText(*mgr), QStringLiteral("waiting"));
        mgr->show(window.get(), "same", ToastManager::Info, 500);
        QCOMPARE(mgr->queue().size(), 1);
    }

    void requestInGapStartsAtOnce()
    {
        mgr->show(window.get(), "first", ToastManager::Info, 500);
        playOut(mgr->current());
        QVERIFY(mgr->nextTimer()->isActive());
        mgr->show(window.get(), "second", ToastManager::Info, 500);
        QCOMPARE(currentText(*mgr), QStringLiteral("second"));
        // The gap timer finds the manager busy and does nothing.
        TestSupport::fireTimer(mgr->nextTimer());
        QCOMPARE(currentText(*mgr), QStringLiteral("second"));
    }

    void goneParentDropsWaitingRequest()
    {
        auto doomed = std::make_unique<QWidget>();
        mgr->show(window.get(), "showing", ToastManager::Info, 500);
        mgr->show(doomed.get(), "orphan", ToastManager::Info, 500);
        mgr->show(window.get(), "after", ToastManager::Info, 500);
        doomed.reset();
        playOut(mgr->current());
        flushDeletes();
        TestSupport::fireTimer(mgr->nextTimer());
        QCOMPARE(currentText(*mgr), QStringLiteral("after"));
        QVERIFY(mgr->queue().isEmpty());
    }

    // A card that dies before it finished (its window closed under it) must
    // not leave the queue blocked.
    void destroyedCardFreesQueue()
    {
        auto doomed = std::make_unique<QWidget>();
        doomed->setGeometry(50, 50, 600, 400);
        doomed->show();
        mgr->show(doomed.get(), "on a dying window", ToastManager::Info, 5000);
        mgr->show(window.get(), "next", ToastManager::Info, 500);
        QVERIFY(mgr->current());
        endAnimation(mgr->current()->fadeAnimation());
        doomed.reset();   // deletes the card with it, no finished()
        QVERIFY(!mgr->current());
        QVERIFY(!mgr->isBusy());
        QVERIFY(mgr->nextTimer()->isActive());
        TestSupport::fireTimer(mgr->nextTimer());
        QCOMPARE(currentText(*mgr), QStringLiteral("next"));
    }

    void typesAndLook()
    {
        QCOMPARE(ToastManager::normalizedType(7), ToastManager::Info);
        QCOMPARE(ToastManager::normalizedType(-1), ToastManager::Info);
        QCOMPARE(ToastManager::normalizedType(6), ToastManager::Info);
        QCOMPARE(ToastManager::normalizedType(5), ToastManager::Playback);
        QCOMPARE(ToastManager::normalizedType(0), ToastManager::Success);

        const ThemeColors& tc = ThemeManager::instance()->colors();
        ToastWidget info(window.get(), "seven", ToastManager::Type(7), 100);
        QCOMPARE(info.property("bgColor").value<QColor>(), tc.surfaceHover);
        QCOMPARE(info.property("borderColor").value<QColor>(), tc.border);
        QCOMPARE(info.property("toastMsg").toString(), QStringLiteral("seven"));

        ToastWidget play(window.get(), "play", ToastManager::Playback, 100);
        QCOMPARE(play.property("bgColor").value<QColor>(), QColor("#1a1a3a"));
        QCOMPARE(play.property("borderColor").value<QColor>(), tc.accent);
        QVERIFY(play.textLabel()->styleSheet().contains("color:" + tc.accent.lighter(160).name() + ";"));

        // The icon is drawn in the card's icon colour.
        ToastWidget ok(window.get(), "ok", ToastManager::Success, 100);
        const QImage icon = ok.iconLabel()->pixmap().toImage();
        QCOMPARE(icon.size(), QSize(16, 16));
        int green = 0, other = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QColor c = icon.pixelColor(x, y);
                if (c.alpha() < 128)
                    continue;
                const bool near = qAbs(c.red() - 0x6a) <= 6 && qAbs(c.green() - 0xdf) <= 6 && qAbs(c.blue() - 0x6a) <= 6;
                (near ? green : other)++;
            }
        QVERIFY(green > 3);
        QCOMPARE(other, 0);
    }

    void cardGeometryAndFlags()
    {
        ToastWidget card(window.get(), QString(400, QLatin1Char('W')), ToastManager::Info, 100);
        QVERIFY(card.textLabel()->wordWrap());
        QVERIFY(card.textLabel()->width() <= 280);
        QVERIFY(card.height() >= 44);
        QVERIFY(card.width() < 400);
        QVERIFY(card.windowFlags().testFlag(Qt::WindowTransparentForInput));
        QVERIFY(card.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(card.testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(card.testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(card.isWindow());

        ToastWidget tiny(window.get(), "x", ToastManager::Info, 100);
        QCOMPARE(tiny.height(), 44);
        tiny.setFixedWidth(300);
        tiny.reposition();
        QCOMPARE(tiny.pos(), QPoint(988, 158));

        // A bar whose button the notices name, where the cards go: while it
        // shows, a card lies below it, clear of the button; a bar shown
        // under a card on screen has it move at the card's next check.
        auto* bar = new QWidget(window.get());
        bar->setGeometry(0, 40, 1200, 38);
        auto* button = new QPushButton(QStringLiteral("Restart && Install"), bar);
        button->setGeometry(1060, 6, 130, 26);
        ToastWidget::keepClearOf(bar);
        const auto onScreen = [](QWidget* w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); };
        bar->show();
        tiny.reposition();
        QVERIFY(!tiny.geometry().intersects(onScreen(button)));
        QVERIFY(!tiny.geometry().intersects(onScreen(bar)));
        QCOMPARE(tiny.pos(), QPoint(988, 100 + 78 + ToastWidget::kClearGap));
        bar->hide();
        tiny.reposition();
        QCOMPARE(tiny.pos(), QPoint(988, 158));

        mgr->show(window.get(), QStringLiteral("✅ Downloaded 0.3 MB — click Restart & Install"), ToastManager::Success, 5000);
        ToastWidget* shown = mgr->current();
        QVERIFY(shown);
        QVERIFY(shown->geometry().intersects(onScreen(bar)));   // where a card goes with no bar
        bar->show();
        tick(shown->modalCheckTimer());
        QVERIFY(!shown->geometry().intersects(onScreen(button)));
        QCOMPARE(shown->x(), 1300 - 12 - shown->width());
    }

    // A text that fits 280 pixels stays on one line, as wide as it needs; a
    // longer one wraps within the full 280 pixels: the card grows in height,
    // never wider than its label's limit, and every line shows whole.
    void longTextsShowWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("oneLine");
        QTest::addColumn<QString>("shown");   // empty: the text as given
        QTest::newRow("short") << QStringLiteral("Saved") << true << QString();
        QTest::newRow("saved, with emoji") << QStringLiteral("✅  Session saved") << true << QString();
        QTest::newRow("short sentence") << QStringLiteral("Theme applied: Light Blue") << true
                                         << QString();
        // The card's icon is the warning sign: the text does not repeat it.
        QTest::newRow("warning sign") << QStringLiteral("⚠  Update check failed") << true
                                      << QStringLiteral("Update check failed");
        QTest::newRow("warning sign, emoji form") << QStringLiteral("⚠️ Cannot play \"x\"") << true
                                                  << QStringLiteral("Cannot play \"x\"");
        QTest::newRow("cannot play") << QStringLiteral(
            "Cannot play \"Morning Show Opener (long version)\": the file could not be decoded by any engine") << false
                                     << QString();
        QTest::newRow("restart hint") << QStringLiteral(
            "Audio output changed — the new device is used for new sounds; click Restart & Apply to move the playing ones")
                                      << false << QString();
        QTest::newRow("many words") << QString(QStringLiteral("word ")).repeated(60).trimmed() << false << QString();
    }
    void longTextsShowWhole()
    {
        QFETCH(QString, text);
        QFETCH(bool, oneLine);
        QFETCH(QString, shown);
        ToastWidget card(window.get(), text, ToastManager::Warning, 100);
        card.show();
        QCoreApplication::processEvents();
        QLabel* label = card.textLabel();
        QCOMPARE(card.property("toastMsg").toString(), text);
        if (!shown.isEmpty())
            text = shown;
        QCOMPARE(label->text(), text);
        QVERIFY(label->width() <= 280);
        QVERIFY(card.height() >= 44);
        QVERIFY(card.rect().contains(QRect(label->mapTo(&card, QPoint(0, 0)), label->size())));
        // The text as the label lays it out within its width, all of it inside.
        const QRect box = label->contentsRect();
        const QFontMetrics fm = label->fontMetrics();
        const QRect need = fm.boundingRect(QRect(0, 0, box.width(), 100000), Qt::TextWordWrap, text);
        QVERIFY2(need.width() <= box.width() && need.height() <= box.height(),
                 qPrintable(QString("%1x%2 in %3x%4").arg(need.width()).arg(need.height()).arg(box.width()).arg(box.height())));
        QVERIFY(label->wordWrap() || fm.horizontalAdvance(text) <= box.width());
        if (oneLine) {
            QVERIFY(!label->wordWrap());
            QVERIFY2(label->height() < 2 * fm.lineSpacing(), qPrintable(QString::number(label->height())));
            QVERIFY(fm.horizontalAdvance(text) <= box.width());
        } else {
            QCOMPARE(label->width(), 280);
            QVERIFY(label->height() >= 2 * fm.lineSpacing());
        }
    }

    // A card whose time runs out while a modal box is up over its window
    // stays on screen, raised above the box, and gets its whole time once
    // the box is gone. Qt's own boxes count, and so do those the modal seam
    // answers; a box the card's own window belongs to does not hold it.
    void heldWhileAModalBoxIsUp_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("a box on screen") << false;
        QTest::newRow("a box the seam answers") << true;
    }
    void heldWhileAModalBoxIsUp()
    {
        QFETCH(bool, answered);
        mgr->show(window.get(), "✅  2 tab(s) imported into session", ToastManager::Info, 2400);
        QPointer<ToastWidget> card = mgr->current();
        QVERIFY(card);
        endAnimation(card->fadeAnimation());
        QVERIFY(card->holdTimer()->isActive());
        QVERIFY(card->modalCheckTimer()->isActive());
        QVERIFY(!Modal::isUpOver(window.get()));
        tick(card->modalCheckTimer());
        QVERIFY(!card->isHeldByModal());
        QVERIFY(card->holdTimer()->isActive());

        const auto whileUp = [&] {
            QVERIFY(Modal::isUpOver(window.get()));
            // The box came up over the card: the card is raised above it.
            RaiseCount raised;
            card->installEventFilter(&raised);
            TestSupport::fireTimer(card->holdTimer());   // its time runs out behind the box
            QVERIFY(card);
            QVERIFY(raised.count > 0);
            card->removeEventFilter(&raised);
            QVERIFY(card->isHeldByModal());
            QVERIFY(!card->fadeAnimation() || card->fadeAnimation()->state() != QAbstractAnimation::Running);
            QCOMPARE(card->opacity(), 1.0f);
            QVERIFY(card->isVisible());
            tick(card->modalCheckTimer());
            QVERIFY(card->isHeldByModal());
            QVERIFY(!card->holdTimer()->isActive());
        };
        if (answered) {
            bool asked = false;
            TestSupport::ModalScript modal([&](const Modal::Request& r) -> QVariant {
                asked = r.kind == Modal::Kind::MessageBox;
                whileUp();
                return QMessageBox::Ok;
            });
            Modal::information(window.get(), QStringLiteral("Import"),
                               QStringLiteral("Tab(s) added to the current session."));
            QVERIFY(asked);
        } else {
            QMessageBox box(QMessageBox::Information, QStringLiteral("Import"),
                            QStringLiteral("Tab(s) added to the current session."), QMessageBox::Ok, window.get());
            box.setWindowModality(Qt::ApplicationModal);
            box.show();
            QTRY_COMPARE(QApplication::activeModalWidget(), &box);
            QVERIFY(!Modal::isUpOver(&box));
            whileUp();
            box.hide();
        }
        QVERIFY(!Modal::isUpOver(window.get()));
        tick(card->modalCheckTimer());
        QVERIFY(!card->isHeldByModal());
        QVERIFY(card->holdTimer()->isActive());
        QCOMPARE(card->holdTimer()->interval(), 2400);   // whole again
        TestSupport::fireTimer(card->holdTimer());
        QVERIFY(card->fadeAnimation());
        QCOMPARE(card->fadeAnimation()->state(), QAbstractAnimation::Running);
        QCOMPARE(card->fadeAnimation()->duration(), ToastWidget::kFadeOutMs);
        QVERIFY(!card->modalCheckTimer()->isActive());
    }

    void opacityFades()
    {
        mgr->show(window.get(), "fade", ToastManager::Info, 700);
        ToastWidget* card = mgr->current();
        QCOMPARE(card->opacity(), 0.0f);
        QVERIFY(card->isVisible());
        QCOMPARE(card->fadeAnimation()->duration(), 200);
        QVERIFY(!card->holdTimer()->isActive());   // the hold starts when the fade-in ends
        endAnimation(card->fadeAnimation());
        QCOMPARE(card->opacity(), 1.0f);
        TestSupport::fireTimer(card->holdTimer());
        QCOMPARE(card->fadeAnimation()->duration(), 300);
        card->setOpacity(2.0f);
        QCOMPARE(card->opacity(), 1.0f);
        card->setOpacity(-1.0f);
        QCOMPARE(card->opacity(), 0.0f);
        endAnimation(card->fadeAnimation());
        QVERIFY(card->isHidden());
    }
};

QTEST_MAIN(TestToast)
#include "tst_toast.moc"
