// The session commands and the close of the window: what goes on after the
// unsaved-changes question, what is on disk afterwards, bad files and drops,
// and what the close leaves in the settings.
#include <QCloseEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QRandomGenerator>
#include <QtTest>
#include <sys/stat.h>

#include "AppSettings.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "SessionManager.h"

using A = MainWindowTestAccess;

namespace {

enum Command { New, Open, Drop, Close };
enum Answer { NoQuestion, Save, SaveFails, SaveAsCancelled, Discard, Cancel };

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Sends a drop of the urls to the window.
void dropUrls(MainWindow* w, const QList<QUrl>& urls)
{
    QMimeData md;
    md.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &md, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    QDropEvent ev(QPointF(5, 5), Qt::CopyAction, &md, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

// Makes the open session unsaved with a change that shows in its file.
void editSession()
{
    SessionManager::instance()->session().tabs[0].name = QStringLiteral("Edited");
    SessionManager::instance()->markDirty();
}

} // namespace

class TestMainWindowSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }

    void commandsAfterTheQuestion_data()
    {
        QTest::addColumn<bool>("dirty");
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("goesOn");

        const char* commandNames[] = {"new", "open", "drop", "close"};
        for (int c : {New, Open, Drop, Close}) {
            for (bool withFile : {false, true}) {
                const char* where = withFile ? "file" : "nofile";
                QTest::addRow("clean-%s-%s", where, commandNames[c]) << false << withFile << c << int(NoQuestion) << true;
                const std::pair<Answer, const char*> answers[] = {
                    {Save, "save"}, {SaveFails, "savefails"}, {SaveAsCancelled, "saveascancelled"},
                    {Discard, "discard"}, {Cancel, "cancel"}};
                for (const auto& [a, name] : answers) {
                    // A session with a file saves without a file dialog.
                    if (withFile && a == SaveAsCancelled)
                        continue;
                    const bool goesOn = a == Save || a == Discard;
                    QTest::addRow("dirty-%s-%s-%s", where, commandNames[c], name)
                        << true << withFile << c << int(a) << goesOn;
                }
            }
        }
    }

    void commandsAfterTheQuestion()
    {
        QFETCH(bool, dirty);
        QFETCH(bool, withFile);
        QFETCH(int, command);
        QFETCH(int, answer);
        QFETCH(bool, goesOn);

        const QDir dir(TestSupport::tempDir());
        const QString mineDir = dir.filePath(QStringLiteral("mine"));
        QVERIFY(QDir().mkpath(mineDir));
        const QString mine = QDir(mineDir).filePath(QStringLiteral("mine.vx"));
        const QString other = dir.filePath(QStringLiteral("other.vx"));
        QVERIFY(MainWindowTest::writeSession(MainWindowTest::makeSession(2, 24), other));
        // A path below a plain file: no write there can succeed, root or not.
        const QString blocker = dir.filePath(QStringLiteral("blocker"));
        writeBytes(blocker, "x");
        const QString saveAsTarget = dir.filePath(QStringLiteral("saved-as.vx"));

        MainWindow w;
        SessionManager* sm = SessionManager::instance();
        sm->newSession();
        if (withFile) {
            QVERIFY(MainWindowTest::writeSession(MainWindowTest::makeSession(1, 24), mine));
            QVERIFY(sm->loadSession(mine));
        }
        const QByteArray mineBefore = readAll(mine);
        if (dirty)
            editSession();
        const QByteArray expectedSaved = QJsonDocument(sm->session().toJson()).toJson(QJsonDocument::Indented);
        const QString tabBefore = sm->session().tabs[0].id;
        QString mineNow = mine;
        if (answer == SaveFails && withFile) {
            // The session's folder goes away and a plain file takes its name.
            QVERIFY(QDir().rename(mineDir, mineDir + QStringLiteral(".moved")));
            writeBytes(mineDir, "x");
            mineNow = QDir(mineDir + QStringLiteral(".moved")).filePath(QStringLiteral("mine.vx"));
        }

        QStringList questions;
        int saveDialogs = 0;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            switch (r.kind) {
            case Modal::Kind::MessageBox:
                questions << r.title;
                if (answer == Cancel)
                    return int(QMessageBox::Cancel);
                if (answer == Discard)
                    return int(QMessageBox::Discard);
                return int(QMessageBox::Save);
            case Modal::Kind::SaveFile:
                ++saveDialogs;
                if (answer == SaveAsCancelled)
                    return QString();
                return answer == SaveFails ? QDir(blocker).filePath(QStringLiteral("x.vx")) : saveAsTarget;
            case Modal::Kind::OpenFile:
                return other;
            default:
                return {};
            }
        });

        bool accepted = false;
        switch (command) {
        case New:
            w.onNewSession();
            break;
        case Open:
            w.onOpenSession();
            break;
        case Drop:
            dropUrls(&w, {QUrl::fromLocalFile(other)});
            break;
        case Close: {
            QCloseEvent ev;
            QApplication::sendEvent(&w, &ev);
            accepted = ev.isAccepted();
            break;
        }
        }

        // The question, and which one.
        const QString expectedQuestion = !dirty ? QString()
                                         : (command == Close && !withFile) ? QStringLiteral("Save Before Exit")
                                                                          : QStringLiteral("Unsaved Changes");
        QCOMPARE(questions, expectedQuestion.isEmpty() ? QStringList() : QStringList{expectedQuestion});
        QCOMPARE(saveDialogs, (dirty && !withFile && answer != Discard && answer != Cancel) ? 1 : 0);

        // Whether the command went on.
        const Session& s = sm->session();
        switch (command) {
        case New:
            QCOMPARE(s.tabs[0].id != tabBefore, goesOn);
            break;
        case Open:
        case Drop:
            QCOMPARE(s.filePath == other, goesOn);
            break;
        case Close:
            QCOMPARE(accepted, goesOn);
            break;
        }

        // The files on disk.
        const bool saved = dirty && answer == Save;
        if (withFile)
            QCOMPARE(readAll(mineNow), saved ? expectedSaved : mineBefore);
        QCOMPARE(QFile::exists(saveAsTarget), saved && !withFile);
        if (saved && !withFile)
            QCOMPARE(readAll(saveAsTarget), expectedSaved);

        // Dirty flag and title of what is open now.
        if (!goesOn) {
            QVERIFY(sm->isDirty());
            QCOMPARE(s.tabs[0].id, tabBefore);
            const QString name = withFile ? QStringLiteral("mine") : QStringLiteral("Untitled");
            QCOMPARE(w.windowTitle(), QStringLiteral("Tarvello Rododu — %1 *").arg(name));
        } else if (command != Close) {
            QVERIFY(!sm->isDirty());
            const QString name = command == New ? QStringLiteral("Untitled") : QStringLiteral("other");
            QCOMPARE(w.windowTitle(), QStringLiteral("Tarvello Rododu — %1").arg(name));
        }

        // Leave the folder as the next row expects it.
        if (answer == SaveFails && withFile) {
            QFile::remove(mineDir);
            QDir(mineDir + QStringLiteral(".moved")).removeRecursively();
        }
        QDir(mineDir).removeRecursively();
        QFile::remove(saveAsTarget);
        sm->setDirty(false);
    }

    void badFilesLeaveTheOpenSession_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("asks");
        QTest::newRow("empty") << "empty" << true;
        QTest::newRow("truncated") << "truncated" << true;
        QTest::newRow("json array") << "array" << true;
        QTest::newRow("folder named x.vx") << "folder" << false;
        QTest::newRow("named pipe") << "fifo" << false;
        QTest::newRow("50 MB of noise") << "noise" << true;
    }

    void badFilesLeaveTheOpenSession()
    {
        QFETCH(QString, kind);
        QFETCH(bool, asks);
        const QDir dir(TestSupport::tempDir());
        const QString path = dir.filePath(kind + QStringLiteral(".vx"));
        const QByteArray good = QJsonDocument(MainWindowTest::makeSession(2, 24).toJson()).toJson();
        if (kind == QLatin1String("empty")) {
            writeBytes(path, {});
        } else if (kind == QLatin1String("truncated")) {
            writeBytes(path, good.left(good.size() / 2));
        } else if (kind == QLatin1String("array")) {
            writeBytes(path, "[{\"tabs\":[]}]");
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            QByteArray noise(50 * 1024 * 1024, Qt::Uninitialized);
            QRandomGenerator gen(17);
            gen.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
            writeBytes(path, noise);
        }

        MainWindow w;
        SessionManager* sm = SessionManager::instance();
        const QString mine = dir.filePath(QStringLiteral("open.vx"));
        QVERIFY(MainWindowTest::writeSession(MainWindowTest::makeSession(3, 24), mine));
        w.openSessionFile(mine);
        editSession();
        QStringList tabIds;
        for (const TabData& t : sm->session().tabs)
            tabIds << t.id;

        QStringList boxes;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            boxes << r.title;
            return int(r.title == QLatin1String("Unsaved Changes") ? QMessageBox::Discard : QMessageBox::Ok);
        });
        w.openSessionFile(path);

        QStringList expected;
        if (asks)
            expected << QStringLiteral("Unsaved Changes");
        expected << QStringLiteral("Error");
        QCOMPARE(boxes, expected);
        QStringList after;
        for (const TabData& t : sm->session().tabs)
            after << t.id;
        QCOMPARE(after, tabIds);
        QCOMPARE(sm->session().filePath, mine);
        QVERIFY(sm->isDirty());
        QCOMPARE(A::panels(&w).size(), 3);
        sm->setDirty(false);
        if (kind == QLatin1String("noise"))
            QFile::remove(path);
    }

    void dropsOnAChangedSession_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<QString>("opened");
        QTest::newRow("SET.VX") << QStringList{"SET.VX"} << true << "SET.VX";
        QTest::newRow("an MP3") << QStringList{"song.mp3"} << false << "";
        QTest::newRow("three files") << QStringList{"a.vx", "b.vx", "c.json"} << true << "a.vx";
        QTest::newRow("http URL") << QStringList{"http://127.0.0.1:9/x.vx"} << false << "";
    }

    void dropsOnAChangedSession()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, asks);
        QFETCH(QString, opened);
        const QDir dir(TestSupport::tempDir());
        QList<QUrl> urls;
        for (const QString& n : names) {
            if (n.startsWith(QLatin1String("http"))) {
                urls << QUrl(n);
                continue;
            }
            const QString p = dir.filePath(n);
            if (n.endsWith(QLatin1String(".mp3")))
                writeBytes(p, "ID3");
            else
                QVERIFY(MainWindowTest::writeSession(MainWindowTest::makeSession(1, 24), p));
            urls << QUrl::fromLocalFile(p);
        }
        MainWindow w;
        SessionManager* sm = SessionManager::instance();
        sm->newSession();
        editSession();
        int questions = 0;
        TestSupport::ModalScript script([&](const Modal::Request&) -> QVariant {
            ++questions;
            return int(QMessageBox::Discard);
        });
        dropUrls(&w, urls);
        QCOMPARE(questions, asks ? 1 : 0);
        QCOMPARE(sm->session().filePath, opened.isEmpty() ? QString() : dir.filePath(opened));
        QCOMPARE(sm->isDirty(), opened.isEmpty());
        sm->setDirty(false);
    }

    // What a close leaves in the settings: an accepted close stores the
    // window and forgets the library folders (nothing else of the group); an
    // ignored one writes only the preset.
    void closeAndTheSettings_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("accepted") << true;
        QTest::newRow("ignored") << false;
    }

    void closeAndTheSettings()
    {
        QFETCH(bool, accept);
        const QStringList windowKeys{QStringLiteral("window/geometry"), QStringLiteral("window/state"),
                                     QStringLiteral("window/splitter")};
        auto* w = new MainWindow;
        w->show();
        {
            AppSettings s;
            for (const QString& k : windowKeys)
                s.remove(k);
            s.remove(QStringLiteral("appearance/preset"));
            s.setValue(QStringLiteral("library/count"), 1);
            s.setValue(QStringLiteral("library/cat0_name"), QStringLiteral("Jingles"));
            s.setValue(QStringLiteral("library/cat0_path"), QStringLiteral("/srv/jingles"));
            s.setValue(QStringLiteral("library/downloadPath"), QStringLiteral("/srv/downloads"));
            s.setValue(QStringLiteral("library/outputDevice"), QStringLiteral("hw:1"));
        }
        SessionManager::instance()->newSession();
        if (!accept)
            editSession();
        TestSupport::ModalScript script([](const Modal::Request&) -> QVariant { return int(QMessageBox::Cancel); });
        QCloseEvent ev;
        QApplication::sendEvent(w, &ev);
        QCOMPARE(ev.isAccepted(), accept);

        AppSettings s;
        QVERIFY(s.contains(QStringLiteral("appearance/preset")));
        for (const QString& k : windowKeys)
            QCOMPARE(s.contains(k), accept);
        QCOMPARE(s.contains(QStringLiteral("library/count")), !accept);
        QCOMPARE(s.contains(QStringLiteral("library/cat0_name")), !accept);
        QCOMPARE(s.contains(QStringLiteral("library/cat0_path")), !accept);
        QCOMPARE(s.value(QStringLiteral("library/downloadPath")).toString(), QStringLiteral("/srv/downloads"));
        QCOMPARE(s.value(QStringLiteral("library/outputDevice")).toString(), QStringLiteral("hw:1"));
        QCOMPARE(w->isVisible(), !accept);
        SessionManager::instance()->setDirty(false);
        delete w;
    }

    void restoreOfTheWindowState_data()
    {
        QTest::addColumn<QVariant>("version");
        QTest::addColumn<QByteArray>("geometry");
        QTest::addColumn<bool>("restores");
        QByteArray noise(300, Qt::Uninitialized);
        QRandomGenerator(5).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        QTest::newRow("marker missing") << QVariant() << QByteArray("saved") << false;
        QTest::newRow("foreign marker") << QVariant(QStringLiteral("qt5_v3")) << QByteArray("saved") << false;
        QTest::newRow("random bytes as geometry") << QVariant(QStringLiteral("native_v1")) << noise << false;
        QTest::newRow("own marker") << QVariant(QStringLiteral("native_v1")) << QByteArray("saved") << true;
    }

    void restoreOfTheWindowState()
    {
        QFETCH(QVariant, version);
        QFETCH(QByteArray, geometry);
        QFETCH(bool, restores);
        QByteArray stored = geometry;
        if (geometry == "saved") {
            // A real geometry of a window of another size.
            QWidget probe;
            probe.resize(700, 520);
            stored = probe.saveGeometry();
        }
        {
            AppSettings s;
            if (version.isValid())
                s.setValue(QStringLiteral("window/version"), version);
            else
                s.remove(QStringLiteral("window/version"));
            s.setValue(QStringLiteral("window/geometry"), stored);
            s.setValue(QStringLiteral("window/state"), QByteArray("\x01\x02garbage"));
        }
        MainWindow w;
        QCOMPARE(w.size(), restores ? QSize(700, 520) : QSize(1380, 860));
        AppSettings s;
        QCOMPARE(s.value(QStringLiteral("window/version")).toString(), QStringLiteral("native_v1"));
        // Data of another layout is dropped once; our own stays.
        QCOMPARE(s.contains(QStringLiteral("window/geometry")), version == QVariant(QStringLiteral("native_v1")));
    }
};

QTEST_MAIN(TestMainWindowSession)
#include "tst_mainwindow_session.moc"
