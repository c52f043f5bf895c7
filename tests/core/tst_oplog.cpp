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

    void crashCopyMatchesTheRing()
    {
        VX_LOG(QString::fromUtf8("caf\u00e9 \u266b"));
        VX_LOG(QString(600, QChar(0x00e9))); // longer than a crash entry holds
        QStringList seen;
        QList<size_t> lengths;
        auto visit = [](int i, const char* text, size_t len, void* ctx) {
            auto* out = static_cast<std::pair<QStringList*, QList<size_t>*>*>(ctx);
            QCOMPARE(i, int(out->first->size()));
            *out->first << QString::fromUtf8(text, qsizetype(len));
            *out->second << len;
        };
        std::pair<QStringList*, QList<size_t>*> ctx {&seen, &lengths};
        QVERIFY(OpLog::visitForCrash(visit, &ctx));
        const QStringList ring = OpLog::entriesNewestFirst();
        QCOMPARE(seen.size(), ring.size());
        QCOMPARE(seen.mid(2), ring.mid(2));
        QCOMPARE(seen[1], ring[1]);
        // The long one is cut at a character boundary: no broken UTF-8.
        QVERIFY(lengths[0] < OpLog::kCrashEntryBytes);
        QVERIFY(ring[0].startsWith(seen[0]));
        QVERIFY(!seen[0].contains(QChar::ReplacementCharacter));
        QVERIFY(seen[0].size() > 200);
    }

    void aHeldRingIsReportedNotWaitedFor()
    {
        bool visited = true, triedElsewhere = true;
        OpLog::withRingHeld([&] {
            visited = OpLog::visitForCrash([](int, const char*, size_t, void*) {}, nullptr);
            QThread* t = QThread::create([&] {
                QStringList out;
                triedElsewhere = OpLog::tryEntriesNewestFirst(&out);
            });
            t->start();
            t->wait();
            delete t;
        });
        QVERIFY(!visited);
        QVERIFY(!triedElsewhere);
        QStringList out;
        QVERIFY(OpLog::tryEntriesNewestFirst(&out));
        QVERIFY(OpLog::visitForCrash([](int, const char*, size_t, void*) {}, nullptr));
    }
};

QTEST_GUILESS_MAIN(TstOpLog)
#include "tst_oplog.moc"
