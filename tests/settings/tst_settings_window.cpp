// The main window's two ways into the settings: the menu entry's routine and
// Ctrl+",". Both run the same routine, so one toggle refreshes alike.
#include <QCheckBox>
#include <QLabel>
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
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settings_window.moc"
