// The pieces of start-up that can be looked at inside one process: the
// preset mapping, the command-line session, the window icon, the wait for
// decoded sounds (on a fake clock) and the exception guard.
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

#include <stdexcept>

#include "CrashReport.h"
#include "Startup.h"
#include "TestSupport.h"
#include "Types.h"

class TestStartupParts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tarvello"));
        QCoreApplication::setApplicationName(QStringLiteral("Tarvello Rododu"));
    }

    void presetMapping_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("preset");
        const char* names[] = {"dark", "deepblack", "lightblue", "green", "red",
                               "purple", "lightclassic", "slate", "navyorange"};
        for (int i = 0; i < 9; ++i)
            QTest::newRow(names[i]) << QString::fromLatin1(names[i]) << i;
        QTest::newRow("default") << "default" << 0;
        QTest::newRow("DeepBlack") << "DeepBlack" << 0;
        QTest::newRow("blank") << "" << 0;
        QTest::newRow("trailing space") << "slate " << 0;
    }
    void presetMapping()
    {
        QFETCH(QString, stored);
        QFETCH(int, preset);
        QCOMPARE(int(Startup::presetForSetting(stored)), preset);
    }

    void commandLineSession()
    {
        const QString dir = TestSupport::tempDir();
        const auto make = [&](const QString& name) {
            QFile f(dir + QLatin1Char('/') + name);
            f.open(QIODevice::WriteOnly);
            return f.fileName();
        };
        const QString txt = make(QStringLiteral("notes.txt"));
        const QString json = make(QStringLiteral("b.json"));
        const QString vx = make(QStringLiteral("c.vx"));
        const QString upper = make(QStringLiteral("D.VX"));
        const QString missing = dir + QStringLiteral("/gone.vx");
        QDir().mkpath(dir + QStringLiteral("/folder.vx"));

        QCOMPARE(Startup::sessionPathFromArguments({txt, json, vx}), json);
        QCOMPARE(Startup::sessionPathFromArguments({missing, upper, dir + QStringLiteral("/folder.vx"), vx}), vx);
        QCOMPARE(Startup::sessionPathFromArguments({upper}), QString());
        // A link to a session counts; a named pipe under a session's name does not.
        const QString pipe = dir + QStringLiteral("/pipe.vx");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QString link = dir + QStringLiteral("/link.vx");
        QVERIFY(QFile::link(vx, link));
        QCOMPARE(Startup::sessionPathFromArguments({pipe, link}), link);
        QCOMPARE(Startup::sessionPathFromArguments({pipe}), QString());
        QCOMPARE(Startup::sessionPathFromArguments({}), QString());
    }

    void iconPieces()
    {
        QCOMPARE(Startup::iconCornerRadius(16), 2);
        QCOMPARE(Startup::iconCornerRadius(25), 4);    // 3.5 rounds away from zero
        QCOMPARE(Startup::iconCornerRadius(48), 7);
        QCOMPARE(Startup::iconCornerRadius(256), 36);
        QCOMPARE(Startup::iconCornerRadius(4), 2);
        QVERIFY(Startup::roundCorners(QPixmap(), 5).isNull());

        // Nothing found: no icon, and the painted stand-in instead.
        QVERIFY(Startup::makeApplicationIcon(QPixmap(), QPixmap()).isNull());
        QVERIFY(Startup::loadLogo({QStringLiteral(":/none.png"), QStringLiteral("/no/such.png")}).isNull());
        const QColor accent(0x11, 0x99, 0x55);
        const QImage fallback = Startup::paintFallbackIcon(accent).toImage();
        QCOMPARE(fallback.size(), QSize(64, 64));
        QCOMPARE(fallback.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(fallback.pixelColor(32, 4).rgb(), accent.rgb());
        bool white = false;
        for (int x = 16; x < 48 && !white; ++x)
            white = fallback.pixelColor(x, 32).rgb() == QColor(Qt::white).rgb();
        QVERIFY(white);

        // A logo gives every size with rounded (transparent) corners.
        QPixmap logo(300, 300);
        logo.fill(Qt::red);
        const QIcon icon = Startup::makeApplicationIcon(QPixmap(), logo);
        QCOMPARE(icon.availableSizes(), QList<QSize>({QSize(16, 16), QSize(32, 32), QSize(48, 48), QSize(64, 64),
                                                      QSize(128, 128), QSize(256, 256)}));
        const QImage big = icon.pixmap(256, 256).toImage();
        QCOMPARE(big.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(big.pixelColor(128, 128).rgb(), QColor(Qt::red).rgb());
    }

    void activeTabIds()
    {
        Session s;
        TabData a, b;
        for (int i = 0; i < 3; ++i) {
            ButtonData btn;
            btn.id = QStringLiteral("b%1").arg(i);
            btn.audioPath = i == 1 ? QString() : QStringLiteral("/x%1.wav").arg(i);
            b.buttons << btn;
        }
        s.tabs = {a, b};
        s.activeTab = 1;
        QCOMPARE(Startup::activeTabAudioIds(s), QStringList({QStringLiteral("b0"), QStringLiteral("b2")}));
        s.activeTab = 2;
        QVERIFY(Startup::activeTabAudioIds(s).isEmpty());
        s.activeTab = -1;
        QVERIFY(Startup::activeTabAudioIds(s).isEmpty());
    }

    // The wait on a clock of its own: each look that finds sounds pending
    // costs 30 ms.
    void decodedSoundWait()
    {
        const QStringList ids = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
        qint64 clock = 1000;
        QList<QPair<int, int>> shown;
        const auto now = [&] { return clock; };
        const auto waiting = [&](int ready, int total) {
            shown.append({ready, total});
            clock += 30;
        };

        // Ready at once: nothing is shown.
        QCOMPARE(Startup::waitForDecodedSounds(ids, [](const QString&) { return true; }, now, waiting), 3);
        QVERIFY(shown.isEmpty());

        // One more sound decoded while each count is shown.
        QSet<QString> ready;
        const auto readyAfter = [&](const QString& id) { return ready.contains(id); };
        const auto waitingAndDecode = [&](int r, int total) {
            shown.append({r, total});
            ready.insert(ids[r]);
            clock += 30;
        };
        QCOMPARE(Startup::waitForDecodedSounds(ids, readyAfter, now, waitingAndDecode), 3);
        QCOMPARE(shown, (QList<QPair<int, int>>{{0, 3}, {1, 3}, {2, 3}}));

        // Never ready: gives up once more than 5999 ms have passed.
        shown.clear();
        clock = 0;
        QCOMPARE(Startup::waitForDecodedSounds(ids, [](const QString&) { return false; }, now, waiting), 0);
        QCOMPARE(shown.size(), 200);   // looks at 0, 30, ..., 5970 ms
        QCOMPARE(clock, 6000);

        // Nothing to wait for.
        QCOMPARE(Startup::waitForDecodedSounds({}, [](const QString&) { return false; }, now, waiting), 0);
    }

    void guard()
    {
        QList<Modal::Request> boxes;
        TestSupport::ModalScript script([&](const Modal::Request& r) {
            boxes << r;
            return QVariant(int(QMessageBox::Ok));
        });
        QFile::remove(CrashReport::crashLogPath());

        QCOMPARE(Startup::runGuarded([] { return 7; }), 7);
        QVERIFY(boxes.isEmpty());

        QCOMPARE(Startup::runGuarded([]() -> int { throw std::runtime_error("disk on fire"); }), 1);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QStringLiteral("Tarvello Crash"));
        QCOMPARE(boxes[0].text, QStringLiteral("C++ Exception:\n\ndisk on fire"));
        // Appended, not replacing what the file held.
        QCOMPARE(Startup::runGuarded([]() -> int { throw std::logic_error("again"); }), 1);
        QFile f(CrashReport::crashLogPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray both("C++ Exception: disk on fireC++ Exception: again");
        QCOMPARE(f.readAll(), both);
        f.close();

        QCOMPARE(Startup::runGuarded([]() -> int { throw 3; }), 1);
        QCOMPARE(boxes.size(), 3);
        QCOMPARE(boxes[2].text, QStringLiteral("Unknown exception during startup."));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), both);
    }

    // An exception thrown by a slot while the event loop runs ends the loop
    // and reaches the guard.
    void exceptionOutOfTheEventLoop()
    {
        auto* app = static_cast<StartupApplication*>(QCoreApplication::instance());
        TestSupport::ModalScript script([](const Modal::Request&) { return QVariant(int(QMessageBox::Ok)); });
        bool after = false;
        QTimer::singleShot(0, app, [] { throw std::runtime_error("from a slot"); });
        // Ends the loop only when the exception did not; far enough off that a
        // slow machine never reaches it first, and gone with this function.
        QTimer fallback;
        fallback.setSingleShot(true);
        QObject::connect(&fallback, &QTimer::timeout, app, [&] {
            after = true;
            QCoreApplication::exit(0);
        });
        fallback.start(10000);
        QCOMPARE(Startup::runGuarded([app] { return app->execAndRethrow(); }), 1);
        QVERIFY(!after);
        // Thrown while start-up lets events run between its steps: the step
        // stops there and the loop is never entered.
        bool entered = false;
        QTimer::singleShot(0, app, [] { throw std::runtime_error("from a step"); });
        QCOMPARE(Startup::runGuarded([app, &entered] {
                     for (int i = 0; i < 3; ++i)
                         app->processEventsAndRethrow();
                     entered = true;
                     return app->execAndRethrow();
                 }),
                 1);
        QVERIFY(!entered);
        // Quiet loop: exec's own result.
        QTimer::singleShot(0, app, [] { QCoreApplication::exit(5); });
        QCOMPARE(Startup::runGuarded([app] { return app->execAndRethrow(); }), 5);
    }
};

int main(int argc, char** argv)
{
    StartupApplication app(argc, argv);
    TestStartupParts t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_startup_parts.moc"
