// Button edits on the recorder: the per-button actions with their dialogs
// answered or cancelled, key conflicts, images, record changes that reach the
// session, the grids, the widgets and the engines, and swaps.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTableWidget>
#include <QtTest>
#include <sys/stat.h>

#include "../mainwindow/MainWindowTestAccess.h"
#include "ButtonEditDialog.h"
#include "DirectSoundEngine.h"
#include "OpLog.h"
#include "ShortcutsDialog.h"
#include "TabEditSupport.h"

using A = RoutingTestAccess;
using namespace RoutingTest;
using namespace TabEdit;

namespace {

qint64 g_now = 20'000'000;

QVariant fieldOf(const ButtonData& b, const QString& field)
{
    if (field == QLatin1String("name"))
        return b.name;
    if (field == QLatin1String("bgColor"))
        return b.bgColor;
    if (field == QLatin1String("textColor"))
        return b.textColor;
    if (field == QLatin1String("fontSize"))
        return b.fontSize;
    if (field == QLatin1String("key"))
        return b.key;
    if (field == QLatin1String("outputDevice"))
        return b.outputDevice;
    return {};
}

ButtonData gridCopy(MainWindow* w, const QString& id)
{
    for (const MainWindow::GridPanel& p : A::panels(w))
        for (const ButtonData& b : p.grid->tab().buttons)
            if (b.id == id)
                return b;
    return {};
}

quint32 crc32(const QByteArray& data)
{
    quint32 c = 0xffffffffu;
    for (char ch : data) {
        c ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
    }
    return ~c;
}

QByteArray png(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes;
}

// A small PNG whose header claims width x height (its pixel data does not match).
QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray bytes = png(4, 4);
    // Signature (8), chunk length (4), "IHDR" at 12, data at 16.
    for (int i = 0; i < 4; ++i) {
        bytes[16 + i] = char(width >> (24 - 8 * i));
        bytes[20 + i] = char(height >> (24 - 8 * i));
    }
    const quint32 crc = crc32(bytes.mid(12, 17));
    for (int i = 0; i < 4; ++i)
        bytes[29 + i] = char(crc >> (24 - 8 * i));
    return bytes;
}

QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = QDir(TestSupport::tempDir()).filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

} // namespace

class TestButtonEdits : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    RecordingEngines rec;

    void start(const Session& s)
    {
        load(s);
        SessionManager::instance()->setDirty(false);
        rec.reset();
        toastShown(QString());
    }

private slots:
    void initTestCase()
    {
        MainWindow::setWallClock([] { return g_now; });
        w = windowOn(rec);
    }
    void cleanupTestCase() { closeWindow(w); }
    void init()
    {
        rec.dsUp = true;
        g_now += 10'000;
    }

    // The preload handler waits only while the pre-decoded engine is up, and
    // only for its own id. (First of the suite: nothing else waits yet.)
    void preloadHandler()
    {
        start(board(1));
        ButtonData b = record(QStringLiteral("t0b0"));
        w->onButtonDataChanged(b);
        QCOMPARE(A::preloadWaits(w), 1);
        emit DirectSoundEngine::instance()->preloadDone(QStringLiteral("t0b1"));
        QCoreApplication::processEvents();
        QCOMPARE(A::preloadWaits(w), 1);
        emit DirectSoundEngine::instance()->preloadDone(QStringLiteral("t0b0"));
        QCoreApplication::processEvents();
        QCOMPARE(A::preloadWaits(w), 0);
        rec.dsUp = false;
        w->onButtonDataChanged(b);
        QCOMPARE(A::preloadWaits(w), 0);
    }

    // One answer per dialog; a cancelled dialog leaves the record, the
    // session and the engines alone.
    void actions_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QVariant>("answer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("expected"); // invalid: unchanged
        const QVariant same;
        QTest::newRow("name") << "name" << QVariant("Jingle") << "Rename Button" << "name" << QVariant("Jingle");
        QTest::newRow("name, empty") << "name" << QVariant(QString("")) << "Rename Button" << "name"
                                     << QVariant(QString(""));
        QTest::newRow("name, cancel") << "name" << QVariant() << "Rename Button" << "name" << same;
        QTest::newRow("colour") << "color" << QVariant(QColor("#123456")) << "Button Color" << "bgColor"
                                << QVariant(QColor("#123456"));
        QTest::newRow("colour, cancel") << "color" << QVariant(QColor()) << "Button Color" << "bgColor" << same;
        // The amber pad's automatic dark text gives way on navy: the pad then
        // draws the text colour that reads on the new face.
        QTest::newRow("colour, automatic text follows") << "color" << QVariant(QColor("#0D1B4A")) << "Button Color"
                                                        << "textColor" << QVariant(QColor());
        QTest::newRow("text colour") << "txtcolor" << QVariant(QColor("#abcdef")) << "Text Color" << "textColor"
                                     << QVariant(QColor("#abcdef"));
        QTest::newRow("font size") << "fontsize" << QVariant(18) << "Font Size" << "fontSize" << QVariant(18);
        QTest::newRow("font size, cancel") << "fontsize" << QVariant() << "Font Size" << "fontSize" << same;
        QTest::newRow("key, lower case") << "key" << QVariant("q") << "Shortcut Key" << "key" << QVariant("Q");
        QTest::newRow("key, empty clears") << "key" << QVariant(QString("")) << "Shortcut Key" << "key"
                                           << QVariant(QString(""));
        QTest::newRow("key, cancel") << "key" << QVariant() << "Shortcut Key" << "key" << same;
        QTest::newRow("device") << "outputDevice:hw:1,0" << QVariant() << "" << "outputDevice" << QVariant("hw:1,0");
        QTest::newRow("device, none") << "outputDevice:" << QVariant() << "" << "outputDevice" << QVariant(QString(""));
        QTest::newRow("unknown action") << "sparkle" << QVariant() << "" << "name" << QVariant("Sound t0b1");
        QTest::newRow("trim, cancel") << "trim" << QVariant(int(QDialog::Rejected)) << "" << "name" << same;
        QTest::newRow("edit, cancel") << "" << QVariant(int(QDialog::Rejected)) << "" << "name" << same;
        QTest::newRow("image, cancel") << "img" << QVariant(QString()) << "Add Button Image" << "name" << same;
        QTest::newRow("assign, cancel") << "assign" << QVariant(QString()) << "Assign Audio File" << "name" << same;
        QTest::newRow("reassign, cancel") << "reassign" << QVariant(int(QDialog::Rejected)) << "" << "name" << same;
    }
    void actions()
    {
        QFETCH(QString, action);
        QFETCH(QVariant, answer);
        QFETCH(QString, title);
        QFETCH(QString, field);
        QFETCH(QVariant, expected);
        Session s = board(2);
        s.tabs[0].buttons[1].key = QStringLiteral("K");
        s.tabs[0].buttons[1].bgColor = QColor("#F59E0B");
        s.tabs[0].buttons[1].textColor = QColor("#111111");
        start(s);
        const QString id = QStringLiteral("t0b1");
        const ButtonData before = record(id);
        Script script;
        script.answer(answer);
        w->onEditRequested(id, action);

        if (!title.isEmpty()) {
            QCOMPARE(script.asked.size(), 1);
            QCOMPARE(script.asked[0].title, title);
        }
        const bool changes = expected.isValid();
        const QVariant want = changes ? expected : fieldOf(before, field);
        QCOMPARE(fieldOf(record(id), field), want);
        QCOMPARE(fieldOf(widget(w, id)->buttonData(), field), want);
        QCOMPARE(fieldOf(gridCopy(w, id), field), want);
        QCOMPARE(SessionManager::instance()->isDirty(), changes);
        if (!changes) {
            QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.calls.join(QLatin1Char('|'))));
            QCOMPARE(record(id).key, before.key);
        } else {
            // The record change reached the engines: the old sound left them
            // and the new one is prepared.
            QVERIFY(rec.calls.contains(QStringLiteral("ds.evict ") + id));
            QVERIFY(rec.calls.contains(QStringLiteral("pcm.preload %1 %2").arg(id, before.audioPath)));
        }
        // The key map follows the stored key.
        const QString key = record(id).key;
        QCOMPARE(A::keyButtonMap(w).value(key.isEmpty() ? QStringLiteral("K") : key).id,
                 key.isEmpty() ? QString() : id);
    }

    // The window waits for the new sound's pre-load, and the wait ends with
    // it whether the sound gets ready or not; nothing waits for a pre-load
    // the engine refused.
    void assign_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("bg");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QString>("nameAfter");
        QTest::addColumn<QString>("textAfter"); // empty: by the luminance of the new colour
        QTest::addColumn<QString>("preload");   // how the pre-load ends: ready, failed, refused
        QTest::newRow("bare button") << "" << QColor() << QColor() << "Kick Drum" << "" << "ready";
        QTest::newRow("named, light colour") << "Intro" << QColor("#ffff00") << QColor() << "Intro" << "#111111"
                                             << "ready";
        QTest::newRow("dark colour") << "" << QColor("#000080") << QColor() << "Kick Drum" << "#ffffff" << "ready";
        QTest::newRow("both colours kept") << "" << QColor("#000080") << QColor("#ff0000") << "Kick Drum"
                                           << "#ff0000" << "ready";
        QTest::newRow("its pre-load fails") << "" << QColor() << QColor() << "Kick Drum" << "" << "failed";
        QTest::newRow("its pre-load refused") << "" << QColor() << QColor() << "Kick Drum" << "" << "refused";
    }
    void assign()
    {
        QFETCH(QString, name);
        QFETCH(QColor, bg);
        QFETCH(QColor, text);
        QFETCH(QString, nameAfter);
        QFETCH(QString, textAfter);
        QFETCH(QString, preload);
        Session s = board(1);
        ButtonData& b = s.tabs[0].buttons[5];
        b.name = name;
        b.bgColor = bg;
        b.textColor = text;
        start(s);
        const QString path = writeFile(QStringLiteral("Kick Drum.wav"), "RIFF");
        const QString id = QStringLiteral("t0b5");
        A::nowPlayingId(w) = id;
        rec.dsRefusesPreload = preload == QLatin1String("refused");
        Script script;
        script.answer(path);
        w->onEditRequested(id, QString()); // no sound yet: the assign dialog
        QCOMPARE(script.titles(), QStringList{QStringLiteral("Assign Audio File")});
        const ButtonData after = record(id);
        QCOMPARE(after.audioPath, path);
        QCOMPARE(after.name, nameAfter);
        QVERIFY(after.bgColor.isValid());
        if (bg.isValid())
            QCOMPARE(after.bgColor, bg);
        const QColor c = after.bgColor;
        const double lum = 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF();
        QCOMPARE(after.textColor.name(),
                 textAfter.isEmpty() ? (lum > 0.42 ? QStringLiteral("#111111") : QStringLiteral("#ffffff"))
                                     : textAfter);
        QCOMPARE(widget(w, id)->buttonData().audioPath, path);
        QCOMPARE(A::npTitle(w), nameAfter);
        QVERIFY(rec.calls.contains(QStringLiteral("audio.preBuffer ") + path));
        QVERIFY(OpLog::entriesNewestFirst().value(0).contains(QLatin1String("path=") + path)
                || OpLog::entriesNewestFirst().join(QLatin1Char('\n')).contains(QLatin1String("path=") + path));
        A::nowPlayingId(w).clear();
        QVERIFY(rec.calls.contains(QStringLiteral("ds.preload %1 %2 loop=0").arg(id, path)));
        QCOMPARE(A::waitsForPreload(w, id), preload != QLatin1String("refused"));
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        if (preload == QLatin1String("ready"))
            emit ds->preloadDone(id);
        else if (preload == QLatin1String("failed"))
            emit ds->preloadFailed(id);
        QCoreApplication::processEvents();
        QVERIFY(!A::waitsForPreload(w, id));
    }

    void assignCancelledIsLogged()
    {
        start(board(1));
        Script script;
        w->onEditRequested(QStringLiteral("t0b5"), QStringLiteral("assign"));
        QVERIFY(OpLog::entriesNewestFirst().join(QLatin1Char('\n')).contains(QLatin1String("path=(cancelled)")));
        QVERIFY(record(QStringLiteral("t0b5")).audioPath.isEmpty());
        QVERIFY(!SessionManager::instance()->isDirty());
    }

    // A named pipe chosen as a sound is refused before anything opens it.
    void assignRefusesAPipe()
    {
        start(board(1));
        const QString pipe = QDir(TestSupport::tempDir()).filePath(QStringLiteral("pipe.wav"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        Script script;
        script.answer(pipe);
        w->onEditRequested(QStringLiteral("t0b5"), QStringLiteral("assign"));
        QCOMPARE(script.titles(), (QStringList{QStringLiteral("Assign Audio File"), QStringLiteral("Assign Audio File")}));
        QCOMPARE(script.asked[1].kind, Modal::Kind::MessageBox);
        QVERIFY(record(QStringLiteral("t0b5")).audioPath.isEmpty());
        QVERIFY(rec.calls.isEmpty());
    }

    // The key dialog asks about every other holder in turn; a No stores
    // nothing of the edit, while keys taken by earlier Yes answers stay taken.
    void keyConflicts_data()
    {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("keysAfter"); // t0b0, t0b1, t1b1
        QTest::addColumn<QString>("toastText");
        const int yes = QMessageBox::Yes, no = QMessageBox::No;
        QTest::newRow("yes, yes") << QList<int>{yes, yes} << QStringList{"Z", "", ""}
                                  << "Key 'Z' unassigned from 'Sound t1b1'";
        QTest::newRow("yes, no") << QList<int>{yes, no} << QStringList{"", "", "Z"}
                                 << "Kept existing assignment on \"Sound t1b1\"";
        QTest::newRow("no") << QList<int>{no} << QStringList{"", "Z", "Z"}
                            << "Kept existing assignment on \"Sound t0b1\"";
    }
    void keyConflicts()
    {
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, keysAfter);
        QFETCH(QString, toastText);
        Session s = board(2);
        s.tabs[0].buttons[1].key = QStringLiteral("Z");
        s.tabs[1].buttons[1].key = QStringLiteral("Z");
        start(s);
        Script script;
        script.answer(QStringLiteral("z"));
        for (int a : answers)
            script.answer(a);
        w->onEditRequested(QStringLiteral("t0b0"), QStringLiteral("key"));
        QCOMPARE(script.asked.size(), 1 + answers.size());
        QCOMPARE(script.asked[1].title, QStringLiteral("Shortcut Key Already Assigned"));
        QCOMPARE(script.asked[1].text,
                 QStringLiteral("Key 'Z' is already assigned to \"Sound t0b1\".\n\nDo you want to remove that "
                                "assignment and assign it to \"Sound t0b0\" instead?"));
        const QStringList ids{QStringLiteral("t0b0"), QStringLiteral("t0b1"), QStringLiteral("t1b1")};
        for (int i = 0; i < ids.size(); ++i) {
            QCOMPARE(record(ids[i]).key, keysAfter[i]);
            QCOMPARE(widget(w, ids[i])->buttonData().key, keysAfter[i]);
        }
        const bool anyTaken = answers.first() == QMessageBox::Yes;
        QCOMPARE(SessionManager::instance()->isDirty(), anyTaken);
        // The key map names the holder that is left.
        const int holder = keysAfter.lastIndexOf(QStringLiteral("Z"));
        QCOMPARE(A::keyButtonMap(w).value(QStringLiteral("Z")).id, holder < 0 ? QString() : ids[holder]);
        QVERIFY(toastShown(toastText));
    }

    // The edit dialog with its key check: only a changed key held elsewhere
    // asks, about its first holder only; No keeps the old key but stores
    // the rest of the edit.
    void reassign_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("keyAfter");
        QTest::addColumn<QString>("otherKeyAfter"); // t0b1
        QTest::newRow("key unchanged") << "K" << 0 << 0 << "K" << "Z";
        QTest::newRow("key held, yes") << "z" << int(QMessageBox::Yes) << 1 << "Z" << "";
        QTest::newRow("key held, no") << "z" << int(QMessageBox::No) << 1 << "K" << "Z";
        QTest::newRow("free key") << "f2" << 0 << 0 << "F2" << "Z";
    }
    void reassign()
    {
        QFETCH(QString, key);
        QFETCH(int, answer);
        QFETCH(int, questions);
        QFETCH(QString, keyAfter);
        QFETCH(QString, otherKeyAfter);
        Session s = board(2);
        s.tabs[0].buttons[0].key = QStringLiteral("K");
        s.tabs[0].buttons[1].key = QStringLiteral("Z");
        s.tabs[1].buttons[1].key = QStringLiteral("Z");
        start(s);
        Script script;
        script.answers.append([key](const Modal::Request& r) {
            r.dialog->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("Edited"));
            r.dialog->findChild<QLineEdit*>(QStringLiteral("keyEdit"))->setText(key);
            return QVariant(int(QDialog::Accepted));
        });
        script.answer(answer);
        w->onEditRequested(QStringLiteral("t0b0"), QStringLiteral("reassign"));
        QCOMPARE(script.asked.size(), 1 + questions);
        QCOMPARE(record(QStringLiteral("t0b0")).name, QStringLiteral("Edited"));
        QCOMPARE(record(QStringLiteral("t0b0")).key, keyAfter);
        QCOMPARE(record(QStringLiteral("t0b1")).key, otherKeyAfter);
        // A key given by the record change goes from every other holder.
        QCOMPARE(record(QStringLiteral("t1b1")).key, keyAfter == QLatin1String("Z") ? QString() : QStringLiteral("Z"));
    }

    // Every button key box refuses a key that a tab's stop or volume key
    // takes (the key would fire the tab, never the button) with a message
    // that names the tab, and the button keeps its key: the key dialog, the
    // edit dialog (the pad's edit and reassign) and the Shortcuts dialog.
    // A tab key held with a modifier takes no button key. A key a file gave
    // both a button and a tab stays with both through an edit.
    void keyBoxesAgainstTabKeys_data()
    {
        QTest::addColumn<QString>("box"); // key, edit, reassign, table
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("said"); // the refusal; empty: taken
        QTest::addColumn<QString>("keyAfter");
        const QString stop = QStringLiteral("Key \"F5\" is already assigned to the Stop Tab key of tab 'Tab 2'.");
        const QString up = QStringLiteral("Key \"F1\" is already assigned to the volume up key of tab 'Tab 1'.");
        const QString down = QStringLiteral("Key \"Q\" is already assigned to the volume down key of tab 'Tab 2'.");
        const QString box = QStringLiteral("\n\nChoose another key.");
        const QString table = QStringLiteral(" Press another key.");
        const QString b = QStringLiteral("t0b1"), fileHeld = QStringLiteral("t1b0");
        QTest::newRow("key dialog, a stop key") << "key" << b << "f5" << stop + box << "A";
        QTest::newRow("key dialog, a volume up key") << "key" << b << "F1" << up + box << "A";
        QTest::newRow("key dialog, a lower-case volume down key") << "key" << b << "Q" << down + box << "A";
        QTest::newRow("key dialog, F6 beside Alt+F6") << "key" << b << "f6" << QString() << "F6";
        QTest::newRow("edit dialog, a stop key") << "edit" << b << "F5" << stop + box << "A";
        QTest::newRow("edit dialog, F6 beside Alt+F6") << "edit" << b << "F6" << QString() << "F6";
        QTest::newRow("reassign, a volume up key") << "reassign" << b << "f1" << up + box << "A";
        QTest::newRow("reassign, the file's key kept") << "reassign" << fileHeld << "F5" << QString() << "F5";
        QTest::newRow("table, a stop key") << "table" << b << "F5" << stop + table << "A";
        QTest::newRow("table, a volume up key") << "table" << b << "F1" << up + table << "A";
        QTest::newRow("table, a volume down key") << "table" << b << "Q" << down + table << "A";
        QTest::newRow("table, F6 beside Alt+F6") << "table" << b << "F6" << QString() << "F6";
        QTest::newRow("table, the file's key again") << "table" << fileHeld << "F5" << QString() << "F5";
    }
    void keyBoxesAgainstTabKeys()
    {
        QFETCH(QString, box);
        QFETCH(QString, id);
        QFETCH(QString, typed);
        QFETCH(QString, said);
        QFETCH(QString, keyAfter);
        Session s = board(2);
        s.tabs[0].stopKey = QStringLiteral("Alt+F6");
        s.tabs[0].volUpKey = QStringLiteral("F1");
        s.tabs[1].stopKey = QStringLiteral("F5");
        s.tabs[1].volDnKey = QStringLiteral("q");
        s.tabs[1].buttons[0].key = QStringLiteral("F5"); // a file gave F5 to both
        start(s);
        const QList<TabData> tabsBefore = session().tabs;
        QString status;
        Script script;
        if (box == QLatin1String("key")) {
            script.answer(typed);
        } else if (box == QLatin1String("table")) {
            script.answers.append([&](const Modal::Request& r) {
                auto* d = qobject_cast<ShortcutsDialog*>(r.dialog);
                for (int row = 0; d && row < d->rowCount(); ++row)
                    if (d->table()->item(row, 1)->text() == record(id).name)
                        d->onCellClicked(row, 1);
                if (!d || !d->isCaptureArmed())
                    return QVariant();
                QTest::keyClick(d->table(), Qt::Key(QKeySequence(typed)[0].key()));
                status = d->statusLabel()->text();
                d->done(QDialog::Accepted);
                return QVariant(int(QDialog::Accepted));
            });
        } else {
            // OK pressed: a refused key keeps the dialog open, and the user
            // then cancels it.
            script.answers.append([typed](const Modal::Request& r) {
                r.dialog->findChild<QLineEdit*>(QStringLiteral("keyEdit"))->setText(typed);
                r.dialog->accept();
                return QVariant(r.dialog->result());
            });
        }
        if (box == QLatin1String("table"))
            MainWindowTest::findAction(w, QStringLiteral("Keyboard Shortcuts"))->trigger();
        else
            w->onEditRequested(id, box == QLatin1String("edit") ? QString() : box);

        if (box == QLatin1String("table")) {
            QVERIFY2(said.isEmpty() ? status.startsWith(QStringLiteral("✓ Key \"%1\"").arg(keyAfter)) : status == said,
                     qPrintable(status));
            QCOMPARE(script.asked.size(), 1);
        } else if (said.isEmpty()) {
            QCOMPARE(script.asked.size(), 1);
        } else {
            QCOMPARE(script.asked.size(), 2);
            QCOMPARE(script.asked[1].kind, Modal::Kind::MessageBox);
            QCOMPARE(script.asked[1].title, QStringLiteral("Shortcut Key"));
            QCOMPARE(script.asked[1].text, said);
        }
        QCOMPARE(record(id).key, keyAfter);
        QCOMPARE(widget(w, id)->buttonData().key, keyAfter);
        QCOMPARE(gridCopy(w, id).key, keyAfter);
        QCOMPARE(session().tabs[1].buttons[0].key, QStringLiteral("F5"));
        for (int t = 0; t < 2; ++t) {
            QCOMPARE(session().tabs[t].stopKey, tabsBefore[t].stopKey);
            QCOMPARE(session().tabs[t].volUpKey, tabsBefore[t].volUpKey);
            QCOMPARE(session().tabs[t].volDnKey, tabsBefore[t].volDnKey);
        }
        QCOMPARE(A::keyButtonMap(w).value(keyAfter).id, id);
        if (!said.isEmpty() && box != QLatin1String("table"))
            QCOMPARE(SessionManager::instance()->isDirty(), false);
    }

    void images_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("stored"); // invalid: refused
        QTest::newRow("empty file") << QByteArray() << QSize();
        QTest::newRow("text named .png") << QByteArray("not a picture at all\n") << QSize();
        QTest::newRow("30000 x 30000 declared") << pngClaiming(30000, 30000) << QSize();
        QTest::newRow("2000 x 1000") << png(2000, 1000) << QSize(512, 256);
        QTest::newRow("300 x 300") << png(300, 300) << QSize(300, 300);
    }
    void images()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, stored);
        start(board(1));
        const QString path = writeFile(QStringLiteral("picture.png"), bytes);
        Script script;
        script.answer(path);
        const QString id = QStringLiteral("t0b0");
        w->onEditRequested(id, QStringLiteral("img"));
        if (stored.isValid()) {
            QTRY_VERIFY(!record(id).img.isEmpty());
            QImage img;
            QVERIFY(img.loadFromData(QByteArray::fromBase64(record(id).img.toLatin1()), "PNG"));
            QCOMPARE(img.size(), stored);
            QCOMPARE(widget(w, id)->buttonData().img, record(id).img);
        } else {
            QTRY_COMPARE(script.asked.size(), 2);
            QCOMPARE(script.asked[1].title, QStringLiteral("Image Error"));
            QCOMPARE(script.asked[1].text, QStringLiteral("Could not load image: ") + path);
            QVERIFY(record(id).img.isEmpty());
            QVERIFY(!SessionManager::instance()->isDirty());
        }
    }

    // The grid reports a record whose id the session lost: it goes to the
    // position the grid shows it at, in the tab the pane shows.
    void orphanIsRecovered()
    {
        start(board(3));
        emit A::panels(w)[2].header->tabSwitchRequested(1); // pane 2 shows tab 1
        session().tabs[1].buttons[7].id = QStringLiteral("lost");
        ButtonData b = gridCopy(w, QStringLiteral("t1b7"));
        b.name = QStringLiteral("Recovered");
        emit A::panels(w)[1].grid->buttonDataChanged(b);
        QCOMPARE(session().tabs[1].buttons[7].name, QStringLiteral("Recovered"));
        QCOMPARE(session().tabs[1].buttons[7].id, QStringLiteral("t1b7"));
        QVERIFY(OpLog::entriesNewestFirst().join(QLatin1Char('\n'))
                    .contains(QLatin1String("recovered orphaned button id=t1b7 into tab 1")));
        QCOMPARE(widget(w, QStringLiteral("t1b7"))->buttonData().name, QStringLiteral("Recovered"));

        // An id nobody holds is stored nowhere.
        ButtonData ghost;
        ghost.id = QStringLiteral("ghost");
        ghost.name = QStringLiteral("Ghost");
        w->onButtonDataChanged(ghost);
        for (const TabData& t : session().tabs)
            for (const ButtonData& r : t.buttons)
                QVERIFY(r.name != QLatin1String("Ghost"));
    }

    // With the id in two tabs the first tab's record takes the change; the
    // button counts as the later tab's.
    void idInTwoTabs()
    {
        Session s = board(2);
        s.tabs[0].buttons[3].id = QStringLiteral("twice");
        s.tabs[1].buttons[3].id = QStringLiteral("twice");
        start(s);
        ButtonData b = record(QStringLiteral("twice"));
        b.name = QStringLiteral("Changed");
        b.key = QStringLiteral("A"); // t0b1 holds it
        w->onButtonDataChanged(b);
        QCOMPARE(session().tabs[0].buttons[3].name, QStringLiteral("Changed"));
        QVERIFY(session().tabs[1].buttons[3].name != QLatin1String("Changed"));
        QCOMPARE(A::tabIndexCache(w).value(QStringLiteral("twice")), 1);
        QCOMPARE(record(QStringLiteral("t0b1")).key, QString()); // taken without a question
        QCOMPARE(widget(w, QStringLiteral("t0b1"))->buttonData().key, QString());
    }

    // A button the grid padded in, in a tab made after the load, is edited
    // and saved like any other.
    void paddedButtonOfNewTabIsSaved()
    {
        start(board(1, 48));
        w->onAddTab();
        const TabData& t = session().tabs.last();
        QCOMPARE(t.buttons.size(), 48);
        const QString id = t.buttons[47].id;
        Script script;
        script.answer(QStringLiteral("Last pad"));
        w->onEditRequested(id, QStringLiteral("name"));
        const QString file = QDir(TestSupport::tempDir()).filePath(QStringLiteral("padded.vx"));
        QVERIFY(SessionManager::instance()->saveSession(file));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonArray buttons = QJsonDocument::fromJson(f.readAll())
                                       .object()
                                       .value(QLatin1String("tabs"))
                                       .toArray()
                                       .last()
                                       .toObject()
                                       .value(QLatin1String("buttons"))
                                       .toArray();
        QCOMPARE(buttons.size(), 48);
        QCOMPARE(buttons.last().toObject().value(QLatin1String("id")).toString(), id);
        QCOMPARE(buttons.last().toObject().value(QLatin1String("name")).toString(), QStringLiteral("Last pad"));
    }

    // A record without a sound stops and leaves the engines, and is
    // prepared nowhere.
    void soundRemoved()
    {
        start(board(1));
        rec.audio.insert(QStringLiteral("t0b0"));
        ButtonData b = record(QStringLiteral("t0b0"));
        b.audioPath.clear();
        w->onButtonDataChanged(b);
        const QStringList calls = rec.take();
        QVERIFY(calls.contains(QStringLiteral("audio.stop t0b0")));
        QVERIFY(calls.contains(QStringLiteral("ds.evict t0b0")));
        QVERIFY(calls.contains(QStringLiteral("wasapi.evict t0b0")));
        QVERIFY(callsNaming(calls, QStringLiteral("ds.preload")).isEmpty());
        QVERIFY(callsNaming(calls, QStringLiteral("audio.preBuffer")).isEmpty());
    }

    // Loop and rapid hand the pre-decoded sound the new flag: a ready one
    // takes it as it is (what plays goes on), one not ready is prepared
    // again with it; super lays the grid out again.
    void flags_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("loop on") << "loop" << false
                                 << QStringList{"ds.setLoop t0b0 1", "ds.evict t0b0",
                                                "ds.preload t0b0 /x/t0b0.wav loop=1"};
        QTest::newRow("rapid on") << "rapid" << false
                                  << QStringList{"ds.setLoop t0b0 0", "ds.evict t0b0",
                                                 "ds.preload t0b0 /x/t0b0.wav loop=0"};
        QTest::newRow("loop on, ready and playing") << "loop" << true << QStringList{"ds.setLoop t0b0 1"};
        QTest::newRow("rapid on, ready and playing") << "rapid" << true << QStringList{"ds.setLoop t0b0 0"};
        QTest::newRow("super on") << "super" << false << QStringList{};
    }
    void flags()
    {
        QFETCH(QString, action);
        QFETCH(bool, ready);
        QFETCH(QStringList, calls);
        start(board(1));
        rec.ready.clear();
        if (ready) {
            rec.ready << QStringLiteral("t0b0");
            rec.dsMaster << QStringLiteral("t0b0");
        }
        SoundButton* pad = widget(w, QStringLiteral("t0b0"));
        ButtonData b = pad->buttonData();
        (action == QLatin1String("loop") ? b.loop : action == QLatin1String("rapid") ? b.rapid : b.super) = true;
        pad->setButtonData(b); // the pad toggles its own copy before it asks
        w->onEditRequested(QStringLiteral("t0b0"), action);
        QCOMPARE(rec.take(), calls);
        const ButtonData stored = record(QStringLiteral("t0b0"));
        QCOMPARE(stored.loop || stored.rapid || stored.super, true);
        QVERIFY(SessionManager::instance()->isDirty());
        QCOMPARE(rec.dsIsPlaying(QStringLiteral("t0b0")), ready);
        if (action == QLatin1String("super")) {
            ButtonGrid* grid = A::panels(w)[0].grid;
            int row, col, rowSpan, colSpan;
            grid->gridLayout()->getItemPosition(grid->gridLayout()->indexOf(pad), &row, &col, &rowSpan, &colSpan);
            QCOMPARE(rowSpan, 2);
        }
    }

    void swaps()
    {
        start(board(1));
        const ButtonData source = record(QStringLiteral("t0b0"));
        rec.audio.insert(QStringLiteral("t0b0"));

        // Onto itself: nothing.
        w->onButtonSwapRequested(QStringLiteral("t0b0"), QStringLiteral("t0b0"));
        QVERIFY(rec.take().isEmpty());
        QVERIFY(!SessionManager::instance()->isDirty());

        // A playing button onto an empty one: it stops, the sound moves.
        w->onButtonSwapRequested(QStringLiteral("t0b0"), QStringLiteral("t0b5"));
        const QStringList calls = rec.take();
        QVERIFY(calls.contains(QStringLiteral("audio.stop t0b0")));
        QVERIFY(calls.contains(QStringLiteral("ds.evict t0b5")));
        QCOMPARE(record(QStringLiteral("t0b5")).audioPath, source.audioPath);
        QCOMPARE(record(QStringLiteral("t0b5")).name, source.name);
        QVERIFY(record(QStringLiteral("t0b0")).audioPath.isEmpty());
        QCOMPARE(widget(w, QStringLiteral("t0b5"))->buttonData().audioPath, source.audioPath);
        QVERIFY(!widget(w, QStringLiteral("t0b0"))->hasAudio());
        QCOMPARE(A::tabIndexCache(w).value(QStringLiteral("t0b5")), 0);

        // The same pair 30 ms later: ignored.
        g_now += 30;
        w->onButtonSwapRequested(QStringLiteral("t0b0"), QStringLiteral("t0b5"));
        QVERIFY(rec.take().isEmpty());
        QCOMPARE(record(QStringLiteral("t0b5")).audioPath, source.audioPath);

        // Reversed within those 50 ms: another pair, so it swaps back.
        w->onButtonSwapRequested(QStringLiteral("t0b5"), QStringLiteral("t0b0"));
        QCOMPARE(record(QStringLiteral("t0b0")).audioPath, source.audioPath);

        // 50 ms after the first: the pair swaps again.
        g_now += 20;
        w->onButtonSwapRequested(QStringLiteral("t0b0"), QStringLiteral("t0b5"));
        QCOMPARE(record(QStringLiteral("t0b5")).audioPath, source.audioPath);

        // A button nobody holds: nothing.
        w->onButtonSwapRequested(QStringLiteral("t0b0"), QStringLiteral("ghost"));
        QVERIFY(rec.take().isEmpty() || !rec.calls.contains(QStringLiteral("audio.stop ghost")));
    }
};

QTEST_MAIN(TestButtonEdits)
#include "tst_button_edits.moc"
