// The main window's two ways into the settings: the menu entry's routine and
// Ctrl+",". Both run the same routine, so one toggle refreshes alike.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QtTest>

#include "AppSettings.h"
#include "EventLog.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "SessionManager.h"
#include "SettingsDialog.h"
#include "SettingsKeys.h"
#include "SoundButton.h"
#include "TestSupport.h"

using A = MainWindowTestAccess;

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }

    void bothWaysInRefreshAlike_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("menu routine") << false;
        QTest::newRow("Ctrl+comma") << true;
    }

    void bothWaysInRefreshAlike()
    {
        QFETCH(bool, byKey);
        MainWindow w;
        auto* log = new EventLog(&w);
        log->hide();
        A::setEventLog(&w, log);
        {
            AppSettings s;
            s.setValue(SettingsKeys::AdvancedShowLog, true);
            s.setValue(SettingsKeys::AppearanceShowLoopIcon, true);
            s.remove(SettingsKeys::AudioDevice);
        }
        SoundButton::refreshIconSettingsCache();
        SessionManager::instance()->session().filePath = QStringLiteral("/nowhere/renamed-set.vx");

        int opened = 0;
        bool refreshedInside = false;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Dialog)
                return QVariant();
            ++opened;
            auto* d = qobject_cast<SettingsDialog*>(r.dialog);
            if (!d)
                return QVariant();
            {
                AppSettings s;
                s.setValue(SettingsKeys::AudioDevice, QStringLiteral("usb-out"));
            }
            QCheckBox* loop = nullptr;
            for (QCheckBox* b : d->findChildren<QCheckBox*>(QStringLiteral("toggleSwitch")))
                if (b->property("settingsKey").toString() == SettingsKeys::AppearanceShowLoopIcon)
                    loop = b;
            if (!loop)
                return QVariant();
            loop->toggle();
            refreshedInside = !SoundButton::showLoopIcon() && log->isVisibleTo(&w)
                && A::statusFile(&w)->text() == QStringLiteral("renamed-set.vx")
                && A::defaultDevice(&w) == QStringLiteral("usb-out");
            return int(QDialog::Rejected);
        });
        if (byKey)
            QTest::keyClick(&w, Qt::Key_Comma, Qt::ControlModifier);
        else
            w.openSettingsDialog();
        QCOMPARE(opened, 1);
        QVERIFY(refreshedInside);
        QCOMPARE(A::defaultDevice(&w), QStringLiteral("usb-out"));
        SessionManager::instance()->session().filePath.clear();
    }

    // A tab stop key removed on the MIDI page stops nothing from then on.
    void removedTabStopKeyGoesAtOnce()
    {
        MainWindow w;
        Session& s = SessionManager::instance()->session();
        s.tabs[0].stopKey = QStringLiteral("F5");
        w.refreshTabDerivedState();
        auto liveF5 = [&w] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            int n = 0;
            for (QShortcut* sc : w.findChildren<QShortcut*>())
                n += sc->isEnabled() && sc->key() == QKeySequence(Qt::Key_F5) ? 1 : 0;
            return n;
        };
        bool clicked = false;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Dialog)
                return QVariant();
            auto* rows = r.dialog->findChild<QWidget*>(QStringLiteral("midiTabRows"));
            for (QPushButton* b : rows ? rows->findChildren<QPushButton*>() : QList<QPushButton*>())
                if (b->text() == QStringLiteral("Stop")) {
                    b->click();
                    clicked = true;
                    break;
                }
            return int(QDialog::Rejected);
        });
        w.openSettingsDialog();
        QVERIFY(clicked);
        QVERIFY(SessionManager::instance()->session().tabs[0].stopKey.isEmpty());
        QCOMPARE(liveF5(), 0);
        SessionManager::instance()->setDirty(false);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settings_window.moc"
