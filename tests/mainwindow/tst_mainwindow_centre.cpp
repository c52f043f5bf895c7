// The centre of the main window: side panels by width and by the user, the
// tab strip rebuild on resizes, the theme debounce, and the window's close.
#include <QChildEvent>
#include <QMessageBox>
#include <QSplitter>
#include <QtTest>

#include "AppSettings.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "SessionManager.h"
#include "ThemeManager.h"
#include "WindowManager.h"

using A = MainWindowTestAccess;

namespace {

// Counts the widgets made below a widget (each strip rebuild makes new buttons).
class ChildCounter : public QObject
{
public:
    int buttons = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::ChildAdded && static_cast<QChildEvent*>(e)->child()->isWidgetType())
            ++buttons;
        return false;
    }
};

void resizeTo(MainWindow* w, int width)
{
    w->resize(width, 800);
    QTRY_COMPARE(w->width(), width);
}

} // namespace

class TestMainWindowCentre : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        w = new MainWindow;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void sidePanelsFollowTheWidth()
    {
        QWidget* left = A::leftPanel(w);
        QWidget* right = A::rightPanel(w);
        resizeTo(w, 999);
        QVERIFY(!left->isVisible() && !right->isVisible());
        resizeTo(w, 1000);
        QVERIFY(left->isVisible() && !right->isVisible());
        resizeTo(w, 1149);
        QVERIFY(!right->isVisible());
        resizeTo(w, 1150);
        QVERIFY(left->isVisible() && right->isVisible());
    }

    void panelHiddenByTheUserStaysHidden()
    {
        QWidget* left = A::leftPanel(w);
        resizeTo(w, 1400);
        QVERIFY(left->isVisible());
        w->toggleLeftPanel();
        QVERIFY(!left->isVisible());
        resizeTo(w, 900);
        resizeTo(w, 1400);
        QVERIFY(!left->isVisible());
        w->toggleLeftPanel();
        QVERIFY(left->isVisible());
        // Hidden by the width rule, it comes back by itself.
        resizeTo(w, 900);
        resizeTo(w, 1400);
        QVERIFY(left->isVisible());
    }

    void stripRebuiltOnceAfterAWidthDrag()
    {
        resizeTo(w, 1300);
        QTimer* rebuild = A::stripRebuildTimer(w);
        QVERIFY(rebuild && rebuild->isSingleShot());
        TestSupport::fireTimer(rebuild);
        ChildCounter counter;
        A::tabStrip(w)->installEventFilter(&counter);
        for (int width = 1200; width <= 1260; width += 10)
            w->resize(width, 800);
        QCOMPARE(counter.buttons, 0);
        QVERIFY(rebuild->isActive());
        QCOMPARE(rebuild->interval(), 40);
        TestSupport::fireTimer(rebuild);
        const int perRebuild = int(SessionManager::instance()->session().tabs.size()) + 1;
        QCOMPARE(counter.buttons, perRebuild);
        w->resize(1260, 700);   // height only: no rebuild
        QVERIFY(!rebuild->isActive());
        A::tabStrip(w)->removeEventFilter(&counter);
    }

    void themeChangesAreAppliedOnce()
    {
        auto* splitter = w->findChild<QSplitter*>(QStringLiteral("mainSplitter"));
        QVERIFY(splitter);
        splitter->setStyleSheet(QString());
        ChildCounter counter;
        A::tabStrip(w)->installEventFilter(&counter);
        for (int i = 0; i < 3; ++i)
            emit ThemeManager::instance()->themeChanged();
        QTimer* debounce = A::themeDebounceTimer(w);
        QVERIFY(debounce && debounce->isActive() && debounce->isSingleShot());
        QCOMPARE(debounce->interval(), 30);
        QVERIFY(splitter->styleSheet().isEmpty());
        TestSupport::fireTimer(debounce);
        QCOMPARE(counter.buttons, int(SessionManager::instance()->session().tabs.size()) + 1);
        QVERIFY(splitter->styleSheet().contains(ThemeManager::instance()->colors().border.name()));
        A::tabStrip(w)->removeEventFilter(&counter);
    }

    // Runs last: an accepted close shuts the engines down.
    void closeAsksForAnUnsavedNewSession()
    {
        SessionManager* sm = SessionManager::instance();
        sm->newSession();
        sm->markDirty();
        QStringList asked;
        int answer = QMessageBox::Cancel;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            asked << r.text;
            if (r.kind == Modal::Kind::SaveFile)
                return QString();   // the save dialog is cancelled
            return answer;
        });
        QVERIFY(!w->close());
        QCOMPARE(asked, QStringList{QStringLiteral("Save your session before exiting?")});
        QVERIFY(w->isVisible());

        answer = QMessageBox::Save;
        QVERIFY(!w->close());
        QVERIFY(w->isVisible());

        answer = QMessageBox::Discard;
        QVERIFY(WindowManager::instance()->windows().contains(w));
        QVERIFY(w->close());
        QVERIFY(!w->isVisible());
        QVERIFY(!WindowManager::instance()->windows().contains(w));
        AppSettings s;
        QVERIFY(s.contains(QStringLiteral("window/geometry")));
        QVERIFY(s.contains(QStringLiteral("window/splitter")));
        QCOMPARE(s.value(QStringLiteral("appearance/preset")).toString(), ThemeManager::instance()->presetName());

        // Closing has begun: a theme change leaves the window alone.
        auto* splitter = w->findChild<QSplitter*>(QStringLiteral("mainSplitter"));
        splitter->setStyleSheet(QString());
        w->applyThemeToWidgets();
        QVERIFY(splitter->styleSheet().isEmpty());
    }
};

QTEST_MAIN(TestMainWindowCentre)
#include "tst_mainwindow_centre.moc"
