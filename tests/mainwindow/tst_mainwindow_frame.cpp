#include <QtTest>

#include "MainWindow.h"
#include "MainWindowTestAccess.h"

class TestMainWindowFrame : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void builds()
    {
        MainWindow w;
        QVERIFY(!MainWindowTestAccess::panels(&w).isEmpty());
    }
};

QTEST_MAIN(TestMainWindowFrame)
#include "tst_mainwindow_frame.moc"
