#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include "OpLog.h"

class TstOpLog : public QObject
{
    Q_OBJECT
private slots:
    void newestFirstWithTimeStamps()
    {
        const int before = OpLog::totalWritten();
        VX_LOG("a");
        VX_LOG("b");
        VX_LOG("c");
        const QStringList e = OpLog::entriesNewestFirst();
        QVERIFY(e.size() >= 3);
        QCOMPARE(OpLog::totalWritten(), before + 3);
        const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (.*)$");
        QCOMPARE(stamp.match(e[0]).captured(1), QString("c"));
        QCOMPARE(stamp.match(e[1]).captured(1), QString("b"));
        QCOMPARE(stamp.match(e[2]).captured(1), QString("a"));
    }

    void keepsOnlyTheLast64()
    {
        for (int i = 0; i < 70; ++i)
            VX_LOG(QString("op %1").arg(i));
        const QStringList e = OpLog::entriesNewestFirst();
        QCOMPARE(e.size(), 64);
        QVERIFY(e.first().endsWith(" op 69"));
        QVERIFY(e.last().endsWith(" op 6"));
    }

    void writersOnManyThreadsLoseNothing()
    {
        const int before = OpLog::totalWritten();
        QList<QThread*> threads;
        for (int t = 0; t < 4; ++t)
            threads << QThread::create([t] {
                for (int i = 0; i < 500; ++i)
                    VX_LOG(QString("t%1 %2").arg(t).arg(i));
            });
        for (auto* th : threads)
            th->start();
        for (auto* th : threads) {
            th->wait();
            delete th;
        }
        QCOMPARE(OpLog::totalWritten(), before + 2000);
        for (const QString& s : OpLog::entriesNewestFirst())
            QVERIFY(s.contains(QRegularExpression(" t[0-3] \\d+$")));
    }
};

QTEST_GUILESS_MAIN(TstOpLog)
#include "tst_oplog.moc"
