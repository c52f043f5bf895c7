// Edit sequences on the real window, each ended by a save, then a fresh
// window that opens the saved file: what the user saw before the save (tabs,
// panes, every pad's record, columns, rows, layout, volumes, keys, the status
// bar) is what comes back, and the keys reach the tabs they name. One table
// per kind of edit: buttons, tabs, layout and saves.
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>
#include <QtTest>

#include "../grid/GridTestUtil.h"
#include "../mainwindow/MainWindowTestAccess.h"
#include "ButtonEditDialog.h"
#include "EventLog.h"
#include "NowPlayingBar.h"
#include "TabEditSupport.h"

using R = RoutingTestAccess;
using MW = MainWindowTestAccess;
using namespace RoutingTest;
using namespace TabEdit;

namespace {

qint64 g_now = 40'000'000;

// Three tabs of 36 (TabEdit::board) in a six-column session. Pad 0 of the
// first tab carries the key Q, a 1.5 s trim and the loop flag; every tab has
// a MIDI stop note and volume controller of its own.
Session fixture()
{
    Session s = board(3, 36);
    s.gridCols = 6;
    ButtonData& first = s.tabs[0].buttons[0];
    first.key = QStringLiteral("Q");
    first.trimStart = 1.5;
    first.loop = true;
    for (int k = 0; k < s.tabs.size(); ++k) {
        s.tabs[k].stopMidi = 60 + k;
        s.tabs[k].volCC = 20 + k;
    }
    return s;
}

QString num(double v)
{
    return QString::number(v);
}

// The first pane that shows tab t, -1 when none does.
int paneOf(MainWindow* w, int t)
{
    const QList<MainWindow::GridPanel>& panes = R::panels(w);
    for (int p = 0; p < panes.size(); ++p)
        if (panes[p].tabIndex == t)
            return p;
    return -1;
}

// "t/i": pad i of the pane that shows tab t.
SoundButton* padAt(MainWindow* w, const QString& where)
{
    const int t = where.section(QLatin1Char('/'), 0, 0).toInt();
    const int i = where.section(QLatin1Char('/'), 1, 1).toInt();
    const int p = paneOf(w, t);
    return p < 0 ? nullptr : R::panels(w)[p].grid->buttonWidget(i);
}

using MainWindowTest::findAction;

// What the window shows, one line per fact. With asLoaded, a tab volume
// below 0.01 reads as a load takes it (full), so that the view of a window
// before its save can be compared with the window that opens the file.
QStringList view(MainWindow* w, RecordingEngines& rec, bool asLoaded)
{
    const Session& s = session();
    QStringList out;
    out << QStringLiteral("file ") + MW::statusFile(w)->text();
    out << QStringLiteral("title ") + w->windowTitle();
    out << QStringLiteral("btns ") + MW::statusButtons(w)->text();
    out << QStringLiteral("layout %1").arg(w->currentLayoutMode());
    QStringList names;
    for (const TabData& t : s.tabs)
        names << t.name;
    out << QStringLiteral("tabs ") + names.join(QLatin1Char('|'));
    out << QStringLiteral("current %1").arg(w->currentTabIndex());
    QStringList checked;
    const QList<QPushButton*>& strip = R::tabButtons(w);
    for (int k = 0; k < strip.size(); ++k)
        if (strip[k]->isChecked())
            checked << QString::number(k);
    out << QStringLiteral("strip %1 of %2").arg(checked.join(QLatin1Char(','))).arg(strip.size());
    const QList<MainWindow::GridPanel>& panes = R::panels(w);
    out << QStringLiteral("panes %1").arg(panes.size());
    QStringList shapes;
    for (const MainWindow::GridPanel& p : panes) {
        const QString shape = QStringLiteral("cols=%1 rows=%2").arg(p.grid->columns()).arg(p.grid->rows());
        if (!shapes.contains(shape))
            shapes << shape;
    }
    out << QStringLiteral("shape ") + shapes.join(QStringLiteral(" / "));
    NowPlayingBar* bar = R::nowPlayingBar(w);
    out << QStringLiteral("bar %1 %2").arg(bar->titleLabel()->text()).arg(int(bar->hasTrack()));

    for (int t = 0; t < s.tabs.size(); ++t) {
        const TabData& tab = s.tabs[t];
        const int p = paneOf(w, t);
        const bool full = asLoaded && tab.volume < 0.01;
        const int slider = p < 0 ? -1 : panes[p].header->m_volSlider->value();
        out << QStringLiteral("tab %1 vol=%2 engine=%3 slider=%4 stop=%5 up=%6 down=%7 midi=%8 cc=%9")
                   .arg(t)
                   .arg(full ? QStringLiteral("1") : num(tab.volume))
                   .arg(full ? QStringLiteral("1") : num(rec.tabVol.value(t, -1)))
                   .arg(full ? 100 : slider)
                   .arg(tab.stopKey, tab.volUpKey, tab.volDnKey)
                   .arg(tab.stopMidi)
                   .arg(tab.volCC);
        if (p < 0)
            continue;
        // The pads, the grid's own records and the session's agree.
        const ButtonGrid* grid = panes[p].grid;
        QStringList differ;
        for (int i = 0; i < grid->buttonCount(); ++i) {
            const ButtonData& shown = grid->buttonWidget(i)->buttonData();
            if (i >= tab.buttons.size() || !(grid->tab().buttons[i] == tab.buttons[i]) || !(shown == tab.buttons[i]))
                differ << QString::number(i);
            const ButtonData& d = tab.buttons.value(i);
            if (d.audioPath.isEmpty() && d.key.isEmpty() && !d.loop && !d.rapid && !d.super && d.trimStart == 0)
                continue;
            out << QStringLiteral("pad %1/%2 file=%3 key=%4 loop=%5 rapid=%6 super=%7 trim=%8-%9")
                       .arg(t)
                       .arg(i)
                       .arg(QFileInfo(d.audioPath).fileName(), d.key)
                       .arg(int(d.loop))
                       .arg(int(d.rapid))
                       .arg(int(d.super))
                       .arg(num(d.trimStart), num(d.trimEnd));
        }
        out << QStringLiteral("records %1 %2").arg(t).arg(differ.isEmpty() ? QStringLiteral("in step")
                                                                             : QStringLiteral("differ at ") +
                                                                                   differ.join(QLatin1Char(',')));
    }
    return out;
}

// The session as a reload gives it back: tab volumes below 0.01 are full.
QByteArray asLoadedJson(Session s)
{
    for (TabData& t : s.tabs)
        t.volume = MainWindow::effectiveTabVolume(t.volume);
    return QJsonDocument(s.toJson()).toJson();
}

QStringList missing(const QStringList& wanted, const QStringList& shown)
{
    QStringList out;
    for (const QString& line : wanted)
        if (!shown.contains(line))
            out << line;
    return out;
}

} // namespace

class TestEditSequences : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    RecordingEngines rec;
    ScopedFakeClock clock;
    QDir dir;
    QStringList asked;
    QStringList said;   // title|text of every message box
    QString textAnswer;
    QString menuAnswer;
    QString nameAnswer; // the label typed into the Edit Button form
    QString savePath;
    int boxAnswer = QMessageBox::Save;

    MainWindow* makeWindow()
    {
        auto* win = new MainWindow;
        win->setPlaybackEngines(&rec);
        rec.started = [win](const QString& id) { win->onPlayStarted(id); };
        rec.stopped = [win](const QString& id) { win->onPlayStopped(id); };
        win->show();
        win->activateWindow();
        [&] { QVERIFY(QTest::qWaitForWindowActive(win)); }();
        return win;
    }

    void dropWindow()
    {
        if (!w)
            return;
        w->setPlaybackEngines(nullptr);
        rec.started = nullptr;
        rec.stopped = nullptr;
        delete w;
        w = nullptr;
        // Pads taken off their grids wait for the event loop to go.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QString file(const QString& name) const { return dir.filePath(name); }

    // Every modal request of a sequence: message boxes get boxAnswer (Yes
    // where Save is no choice), texts, menus and save dialogs the answer the
    // step left ready.
    QVariant answer(const Modal::Request& r)
    {
        asked << r.title;
        switch (r.kind) {
        case Modal::Kind::MessageBox:
            said << r.title + QLatin1Char('|') + r.text;
            if (r.title == QLatin1String("Unsaved Changes") || r.title == QLatin1String("Save Before Exit"))
                return boxAnswer;
            return int(QMessageBox::Yes);
        case Modal::Kind::Text:
            return textAnswer;
        case Modal::Kind::Menu:
            for (QAction* a : r.menu->actions())
                if (a->text() == menuAnswer)
                    return QVariant::fromValue(a);
            return {};
        case Modal::Kind::SaveFile:
            return savePath;
        case Modal::Kind::Dialog:
            // The Edit Button form: a new label, OK.
            if (auto* form = qobject_cast<ButtonEditDialog*>(r.dialog)) {
                form->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(nameAnswer);
                form->accept();
                return form->QDialog::result();
            }
            return {};
        default:
            return {};
        }
    }

    // Runs one step; saves report the window's close (exit) in `closed`.
    void run(const QString& step, bool& closed)
    {
        const QStringList a = step.split(QLatin1Char(' '));
        const QString& verb = a[0];
        g_now += 1000;
        if (verb == QLatin1String("swap")) {
            QMimeData md;
            md.setData(QStringLiteral("application/x-tarvello-button"),
                       QJsonDocument(QJsonObject{{QStringLiteral("id"), padAt(w, a[1])->buttonData().id}}).toJson());
            GridTest::dropOn(padAt(w, a[2]), &md);
        } else if (verb == QLatin1String("drop")) {
            QStringList paths;
            for (const QString& f : a.mid(2))
                paths << file(f + QStringLiteral(".wav"));
            std::unique_ptr<QMimeData> md(GridTest::urlData(paths));
            GridTest::dropOn(padAt(w, a[1]), md.get());
        } else if (verb == QLatin1String("menu")) {
            const QString rest = QStringList(a.mid(2)).join(QLatin1Char(' '));
            menuAnswer = rest.section(QLatin1Char('='), 0, 0);
            textAnswer = rest.section(QLatin1Char('='), 1);
            SoundButton* pad = padAt(w, a[1]);
            pad->showContextMenu(pad->mapToGlobal(QPoint(5, 5)));
        } else if (verb == QLatin1String("edit")) {
            nameAnswer = QStringList(a.mid(2)).join(QLatin1Char(' '));
            SoundButton* pad = padAt(w, a[1]);
            emit pad->editRequested(pad->buttonData().id);
        } else if (verb == QLatin1String("name")) {
            QCOMPARE(padAt(w, a[1])->buttonData().name, QStringList(a.mid(2)).join(QLatin1Char(' ')));
        } else if (verb == QLatin1String("play")) {
            SoundButton* pad = padAt(w, a[1]);
            QTest::mousePress(pad, Qt::LeftButton);
            QTest::mouseRelease(pad, Qt::LeftButton);
        } else if (verb == QLatin1String("bartrack")) {
            QVERIFY(R::nowPlayingBar(w)->hasTrack());
            QCOMPARE(R::nowPlayingBar(w)->titleLabel()->text(), padAt(w, a[1])->buttonData().name);
        } else if (verb == QLatin1String("tab")) {
            R::tabButtons(w)[a[1].toInt()]->click();
        } else if (verb == QLatin1String("add")) {
            w->onAddTab();
        } else if (verb == QLatin1String("dup")) {
            w->onDuplicateTab();
        } else if (verb == QLatin1String("del")) {
            w->onDeleteTab();
        } else if (verb == QLatin1String("merge")) {
            // A bundle's tab taken into the session: stored muted, eight columns wide.
            TabData t = board(1).tabs[0];
            t.name = QStringLiteral("Merged");
            t.volume = 0;
            t.stopKey.clear();
            t.volUpKey.clear();
            t.volDnKey.clear();
            t.buttons[1].key.clear();
            w->onBundleTabsReady({t});
        } else if (verb == QLatin1String("cols")) {
            MW::colsSpin(w)->setValue(a[1].toInt());
        } else if (verb == QLatin1String("rows")) {
            MW::rowsSpin(w)->setValue(a[1].toInt());
        } else if (verb == QLatin1String("layout")) {
            MW::layoutButtons(w)[a[1] == QLatin1String("4") ? 2 : a[1].toInt() - 1]->click();
        } else if (verb == QLatin1String("per")) {
            findAction(w, QStringLiteral("%1 Buttons").arg(a[1]))->trigger();
        } else if (verb == QLatin1String("vol")) {
            R::panels(w)[paneOf(w, a[1].toInt())].header->m_volSlider->setValue(a[2].toInt());
        } else if (verb == QLatin1String("midivol")) {
            w->onMidiControlTriggered(QStringLiteral("__tab_vol_%1__").arg(a[1]), a[2].toInt());
        } else if (verb == QLatin1String("stopkey")) {
            emit R::panels(w)[paneOf(w, a[1].toInt())].header->stopShortcutChanged(a[2]);
        } else if (verb == QLatin1String("new")) {
            boxAnswer = QMessageBox::Discard;
            w->onNewSession();
            boxAnswer = QMessageBox::Save;
        } else if (verb == QLatin1String("open")) {
            w->openSessionFile(session().filePath);
        } else if (verb == QLatin1String("save")) {
            w->onSaveSession();
        } else if (verb == QLatin1String("save-cancelled")) {
            savePath.clear();
            w->onSaveSession();
        } else if (verb == QLatin1String("autosave")) {
            QMetaObject::invokeMethod(SessionManager::instance(), "onAutoSaveTimeout");
        } else if (verb == QLatin1String("quiet")) {
            QCOMPARE(drainToasts(), QStringList());
        } else if (verb == QLatin1String("unsaid")) {
            QVERIFY2(said.isEmpty(), qPrintable(said.join(QLatin1Char('\n'))));
        } else if (verb == QLatin1String("said")) {
            const QString text = QStringList(a.mid(1)).join(QLatin1Char(' '));
            QVERIFY2(said.filter(text).size() == 1, qPrintable(said.join(QLatin1Char('\n'))));
            said.clear();
        } else if (verb == QLatin1String("saveas")) {
            savePath = file(a[1]);
            w->onSaveSessionAs();
        } else if (verb == QLatin1String("exit") || verb == QLatin1String("exit-refused")) {
            savePath = file(a.value(1, QStringLiteral("exit.vx")));
            QCloseEvent ev;
            QApplication::sendEvent(w, &ev);
            closed = ev.isAccepted();
            QCOMPARE(closed, verb == QLatin1String("exit"));
        } else if (verb == QLatin1String("lock") || verb == QLatin1String("unlock")) {
            // The session's folder goes away and a plain file takes its name:
            // no write there can succeed, root or not.
            const QString folder = file(QStringLiteral("set"));
            if (verb == QLatin1String("lock")) {
                QVERIFY(QDir().rename(folder, folder + QStringLiteral(".moved")));
                QFile f(folder);
                QVERIFY(f.open(QIODevice::WriteOnly));
            } else {
                QVERIFY(QFile::remove(folder));
                QVERIFY(QDir().rename(folder + QStringLiteral(".moved"), folder));
            }
        } else if (verb == QLatin1String("garble")) {
            QFile f(session().filePath);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("{\"tabs\": [ not json");
        } else if (verb == QLatin1String("bytes")) {
            QFile f(file(a[1]));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("{\"tabs\": [ not json"));
        } else if (verb == QLatin1String("restart")) {
            dropWindow();
            w = makeWindow();
        } else if (verb == QLatin1String("toast")) {
            const QString text = QStringList(a.mid(1)).join(QLatin1Char(' '));
            const QStringList shown = drainToasts();
            QVERIFY2(shown.contains(text), qPrintable(shown.join(QLatin1Char('|'))));
        } else if (verb == QLatin1String("log")) {
            const QString text = QStringList(a.mid(1)).join(QLatin1Char(' '));
            QStringList lines;
            QListWidget* list = R::eventLog(w)->list();
            for (int k = 0; k < list->count(); ++k)
                lines << list->item(k)->text();
            QVERIFY2(lines.filter(text).size() == 1, qPrintable(lines.join(QLatin1Char('|'))));
        } else if (verb == QLatin1String("title")) {
            const QString name = QStringList(a.mid(1)).join(QLatin1Char(' '));
            QCOMPARE(w->windowTitle(), QStringLiteral("Tarvello Rododu — ") + name);
        } else if (verb == QLatin1String("asked")) {
            QCOMPARE(asked, QStringList(a.mid(1)).join(QLatin1Char(' ')).split(QLatin1Char(','), Qt::SkipEmptyParts));
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
        if (verb != QLatin1String("asked"))
            return;
        asked.clear();
    }

    // The fixture in a file of its own, opened in a fresh window; the steps;
    // the view after the last save; a fresh window that opens the saved file
    // shows the same and writes it back the same; its keys reach their tabs.
    void runSequence()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);

        QDir(file(QStringLiteral("set"))).removeRecursively();
        QFile::remove(file(QStringLiteral("set")));
        for (const QString& name : dir.entryList({QStringLiteral("*.vx")}))
            QFile::remove(file(name));
        QVERIFY(QDir().mkpath(file(QStringLiteral("set"))));
        const QString start = file(QStringLiteral("set/board.vx"));
        QVERIFY(MainWindowTest::writeSession(fixture(), start));

        TestSupport::ModalScript script([this](const Modal::Request& r) { return answer(r); });
        asked.clear();
        said.clear();
        w = makeWindow();
        w->openSessionFile(start);
        QVERIFY(!SessionManager::instance()->isDirty());
        drainToasts();

        auto isSave = [](const QString& step) {
            return step.startsWith(QLatin1String("save")) || step == QLatin1String("exit")
                   || step.startsWith(QLatin1String("exit "));
        };
        qsizetype last = -1;
        for (qsizetype k = 0; k < steps.size(); ++k)
            if (isSave(steps[k]))
                last = k;
        QVERIFY2(last >= 0, "a sequence ends with a save");

        QStringList before;
        Session saved;
        for (qsizetype k = 0; k < steps.size(); ++k) {
            bool closed = false;
            run(steps[k], closed);
            if (QTest::currentTestFailed())
                return;
            if (k == last) {
                before = view(w, rec, true);
                const QStringList shown = view(w, rec, false);
                QVERIFY2(missing(expected, shown).isEmpty(),
                         qPrintable(missing(expected, shown).join(QLatin1Char('\n')) + QStringLiteral("\n--- shown:\n")
                                    + shown.join(QLatin1Char('\n'))));
                QVERIFY(!SessionManager::instance()->isDirty());
                saved = session();
            }
        }

        // A fresh window opens the file the last save wrote.
        dropWindow();
        w = makeWindow();
        rec.tabVol.clear();
        w->openSessionFile(saved.filePath);
        QCOMPARE(session().filePath, saved.filePath);
        QCOMPARE(view(w, rec, false), before);
        QCOMPARE(QJsonDocument(session().toJson()).toJson(), asLoadedJson(saved));

        checkRouting(w, rec, clock, g_now);
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        MainWindow::setWallClock([] { return g_now; });
        dir = QDir(TestSupport::tempDir());
        for (const char* name : {"d1", "d2", "d3"})
            QVERIFY(TestSupport::writeWav16(dir.filePath(QLatin1String(name) + QStringLiteral(".wav")),
                                            TestSupport::sine(440.0, 0.2, 2, 44100), 2, 44100));
    }
    void cleanupTestCase() { MainWindow::setWallClock(nullptr); }
    // A failed row leaves its window: it goes before the next one opens.
    void cleanup()
    {
        SessionManager::instance()->setDirty(false);
        dropWindow();
    }

    // Pads: a drop, a swap or a flag starts from the record as it stands.
    void buttonSequences_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");
        const QString moved = QStringLiteral("pad 0/5 file=t0b0.wav key=Q loop=1 rapid=0 super=0 trim=1.5-0");
        QTest::newRow("swap, then drops on both pads")
            << QStringList{"swap 0/0 0/5", "drop 0/5 d1 d2", "drop 0/0 d3", "save"}
            << QStringList{"pad 0/0 file=d3.wav key= loop=0 rapid=0 super=0 trim=0-0", moved,
                           "pad 0/6 file=d1.wav key= loop=0 rapid=0 super=0 trim=0-0",
                           "pad 0/7 file=d2.wav key= loop=0 rapid=0 super=0 trim=0-0", "records 0 in step"};
        QTest::newRow("swap, drop, save at exit")
            << QStringList{"swap 0/0 0/5", "drop 0/0 d3", "exit"}
            << QStringList{"pad 0/0 file=d3.wav key= loop=0 rapid=0 super=0 trim=0-0", moved, "records 0 in step"};
        QTest::newRow("swap back and forth, then a drop")
            << QStringList{"swap 0/0 0/5", "swap 0/5 0/0", "swap 0/1 0/9", "drop 0/0 d1", "save"}
            << QStringList{"pad 0/0 file=d1.wav key=Q loop=1 rapid=0 super=0 trim=1.5-0",
                           "pad 0/9 file=t0b1.wav key=A loop=0 rapid=0 super=0 trim=0-0", "records 0 in step"};
        QTest::newRow("loop, then a drop on the pad")
            << QStringList{"menu 0/1 Loop", "drop 0/1 d1", "save"}
            << QStringList{"pad 0/1 file=d1.wav key=A loop=1 rapid=0 super=0 trim=0-0", "records 0 in step"};
        QTest::newRow("loop off and super on, then drops")
            << QStringList{"menu 0/0 Loop", "menu 0/1 SuperButton (2×2)", "drop 0/0 d1", "drop 0/1 d2", "save"}
            << QStringList{"pad 0/0 file=d1.wav key=Q loop=0 rapid=0 super=0 trim=1.5-0",
                           "pad 0/1 file=d2.wav key=A loop=0 rapid=0 super=1 trim=0-0", "records 0 in step"};
        QTest::newRow("a key taken from a pad, then a drop on that pad")
            << QStringList{"menu 0/0 Shortcut Key=A", "drop 0/1 d2", "save"}
            << QStringList{"pad 0/0 file=t0b0.wav key=A loop=1 rapid=0 super=0 trim=1.5-0",
                           "pad 0/1 file=d2.wav key= loop=0 rapid=0 super=0 trim=0-0", "records 0 in step"};
        QTest::newRow("keys that cannot fire are refused from the context menu")
            << QStringList{"menu 0/1 Shortcut Key=CTRL+1", "said Shortcut Key|A key held with Ctrl, Alt or Meta",
                           "menu 0/1 Shortcut Key=SHIFT+A", "said Shortcut Key|A key held with Shift",
                           "menu 0/1 Shortcut Key=F13", "said Shortcut Key|\"F13\" cannot play a button",
                           "menu 0/1 Shortcut Key=ESC", "said Shortcut Key|Escape cannot play a button",
                           "menu 0/1 Shortcut Key=words", "said Shortcut Key|\"words\" cannot play a button",
                           "menu 0/0 Shortcut Key=f2", "save"}
            << QStringList{"pad 0/0 file=t0b0.wav key=F2 loop=1 rapid=0 super=0 trim=1.5-0",
                           "pad 0/1 file=t0b1.wav key=A loop=0 rapid=0 super=0 trim=0-0"};
        // Keys that some layouts type alone and others with Shift: taken,
        // kept through an edit of their buttons, and (after the reload)
        // fired by the press of either kind of layout.
        const QString pad = QStringLiteral("pad %1/1 file=t%1b1.wav key=%2 loop=0 rapid=0 super=0 trim=0-0");
        QTest::newRow("ß, # and < typed, then their buttons renamed")
            << QStringList{"menu 0/1 Shortcut Key=ß", "menu 1/1 Shortcut Key=#", "menu 2/1 Shortcut Key=<",
                           "edit 0/1 Jingle", "edit 1/1 News", "edit 2/1 Weather", "unsaid", "name 0/1 Jingle",
                           "name 1/1 News", "name 2/1 Weather", "save"}
            << QStringList{pad.arg(0).arg("SS"), pad.arg(1).arg("#"), pad.arg(2).arg("<"), "records 0 in step",
                           "records 1 in step", "records 2 in step"};
        QTest::newRow("&, ä and é typed, then their buttons renamed")
            << QStringList{"menu 0/1 Shortcut Key=&", "menu 1/1 Shortcut Key=ä", "menu 2/1 Shortcut Key=é",
                           "edit 0/1 Et voilà", "edit 1/1 Ärger", "edit 2/1 Été", "unsaid", "name 0/1 Et voilà",
                           "name 1/1 Ärger", "name 2/1 Été", "save"}
            << QStringList{pad.arg(0).arg("&"), pad.arg(1).arg("Ä"), pad.arg(2).arg("É")};
        QTest::newRow("swap across two panes, then drops")
            << QStringList{"layout 2", "swap 0/0 1/3", "drop 0/0 d1", "drop 1/3 d2 d3", "save"}
            << QStringList{"pad 0/0 file=d1.wav key= loop=0 rapid=0 super=0 trim=0-0",
                           "pad 1/3 file=t0b0.wav key=Q loop=1 rapid=0 super=0 trim=1.5-0",
                           "pad 1/4 file=d2.wav key= loop=0 rapid=0 super=0 trim=0-0",
                           "pad 1/5 file=d3.wav key= loop=0 rapid=0 super=0 trim=0-0", "records 0 in step",
                           "records 1 in step", "layout 2"};
    }
    void buttonSequences() { runSequence(); }

    // Tabs: a refresh keeps every tab's volume, a copy brings no keys of its
    // own, every pane takes the session's columns and rows, and no tab
    // volume passes full.
    void tabSequences_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");
        const QString tab0 =
            QStringLiteral("tab 0 vol=0.1 engine=0.1 slider=10 stop=Ctrl+Alt+Shift+A up=Alt+A down=Alt+Shift+A "
                           "midi=60 cc=20");
        const QString tab1 =
            QStringLiteral("tab 1 vol=0.15 engine=0.15 slider=15 stop=Ctrl+Alt+Shift+B up=Alt+B down=Alt+Shift+B "
                           "midi=61 cc=21");
        QTest::newRow("muted tab, then a new tab")
            << QStringList{"vol 1 0", "add", "save"}
            << QStringList{"tab 1 vol=0 engine=0 slider=0 stop=Ctrl+Alt+Shift+B up=Alt+B down=Alt+Shift+B midi=61 "
                           "cc=21",
                           "tabs Tab 1|Tab 2|Tab 3|Tab 4", "current 3", "strip 3 of 4", "shape cols=6 rows=0"};
        QTest::newRow("muted tab, then a key change, a copy and a delete")
            << QStringList{"vol 0 0", "stopkey 2 F9", "tab 2", "dup", "tab 1", "del", "save"}
            << QStringList{"tab 0 vol=0 engine=0 slider=0 stop=Ctrl+Alt+Shift+A up=Alt+A down=Alt+Shift+A midi=60 "
                           "cc=20",
                           "tabs Tab 1|Tab 3|Tab 3 (Copy)", "tab 1 vol=0.2 engine=0.2 slider=20 stop=F9 "
                                                            "up=Alt+C down=Alt+Shift+C midi=62 cc=22"};
        QTest::newRow("a copy keeps no keys, the source keeps its own")
            << QStringList{"tab 1", "dup", "save"}
            << QStringList{tab0, tab1, "tabs Tab 1|Tab 2|Tab 2 (Copy)|Tab 3",
                           "tab 2 vol=0.15 engine=0.15 slider=15 stop= up= down= midi=-1 cc=-1",
                           "shape cols=6 rows=0", "current 2"};
        QTest::newRow("copy, delete, then fewer columns")
            << QStringList{"dup", "tab 0", "del", "cols 4", "save"}
            << QStringList{"tabs Tab 1 (Copy)|Tab 2|Tab 3", "shape cols=4 rows=0", "panes 3"};
        QTest::newRow("the first tab deleted after a copy of it")
            << QStringList{"dup", "tab 0", "del", "save"}
            << QStringList{"tabs Tab 1 (Copy)|Tab 2|Tab 3", "shape cols=6 rows=0"};
        QTest::newRow("the first tab deleted after an added one")
            << QStringList{"add", "tab 0", "del", "save"}
            << QStringList{"tabs Tab 2|Tab 3|Tab 4", "shape cols=6 rows=0"};
        QTest::newRow("columns and rows, then new and copied tabs")
            << QStringList{"cols 5", "rows 3", "add", "dup", "save"}
            << QStringList{"shape cols=5 rows=3", "panes 5"};
        QTest::newRow("a merged tab takes the session's columns and a full volume")
            << QStringList{"merge", "tab 3", "save"}
            << QStringList{"tabs Tab 1|Tab 2|Tab 3|Merged", "shape cols=6 rows=0",
                           "tab 3 vol=1 engine=1 slider=100 stop= up= down= midi=-1 cc=-1"};
        QTest::newRow("a MIDI tab volume at 127 stops at full")
            << QStringList{"midivol 1 127", "midivol 2 64", "save"}
            << QStringList{"tab 1 vol=1 engine=1 slider=100 stop=Ctrl+Alt+Shift+B up=Alt+B down=Alt+Shift+B midi=61 "
                           "cc=21",
                           "tab 2 vol=0.5 engine=0.5 slider=50 stop=Ctrl+Alt+Shift+C up=Alt+C down=Alt+Shift+C "
                           "midi=62 cc=22"};
    }
    void tabSequences() { runSequence(); }

    // Layout and saves: every save writes what the window shows, a layout
    // choice is a change, a failed save says so, and the status bar follows.
    void layoutAndSaveSequences_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two panes, then exit")
            << QStringList{"layout 2", "exit", "asked Unsaved Changes"} << QStringList{"layout 2"};
        QTest::newRow("columns and rows, then exit")
            << QStringList{"cols 4", "rows 2", "exit", "asked Unsaved Changes"}
            << QStringList{"shape cols=4 rows=2"};
        QTest::newRow("new session, edits, Save Before Exit")
            << QStringList{"new", "title Untitled", "layout 4", "title Untitled *", "cols 3", "add", "drop 0/0 d1",
                           "exit fresh.vx", "asked Save Before Exit,Save Session As"}
            << QStringList{"layout 4", "shape cols=3 rows=0", "tabs Tab 1|Tab 2", "file fresh.vx",
                           "title Tarvello Rododu — fresh", "pad 0/0 file=d1.wav key= loop=0 rapid=0 super=0 trim=0-0"};
        QTest::newRow("save as names the new file")
            << QStringList{"layout 4", "saveas other.vx", "toast ✅  Session saved as new file"}
            << QStringList{"file other.vx", "title Tarvello Rododu — other", "layout 4"};
        QTest::newRow("save as of a clean session names the new file")
            << QStringList{"title board", "saveas other.vx", "toast ✅  Session saved as new file"}
            << QStringList{"file other.vx", "title Tarvello Rododu — other"};
        QTest::newRow("72 buttons, then save")
            << QStringList{"per 72", "title board *", "save"}
            << QStringList{"btns Btns: 2/72", "title Tarvello Rododu — board"};
        QTest::newRow("a failed save at exit says why, the next one saves")
            << QStringList{"rows 2", "lock", "exit-refused", "toast ❌  Save failed — check file permissions",
                           "log Save failed: ", "asked Unsaved Changes", "unlock", "exit"}
            << QStringList{"shape cols=6 rows=2"};
        QTest::newRow("a failed save as says why")
            << QStringList{"cols 2", "lock", "saveas set/x.vx", "toast ❌  Save failed — check file permissions",
                           "title board *", "unlock", "save"}
            << QStringList{"shape cols=2 rows=0", "file board.vx"};
        QTest::newRow("an unreadable last session starts a usable new one")
            << QStringList{"save", "garble", "restart", "title Untitled", "toast ❌  Could not open board.vx",
                           "log Could not read the last session: ", "bytes set/board.vx", "add",
                           "saveas fresh.vx"}
            << QStringList{"tabs Tab 1|Tab 2", "current 1", "strip 1 of 2", "panes 2", "file fresh.vx",
                           "btns Btns: 0/36"};
        QTest::newRow("a start with the last session names it")
            << QStringList{"restart", "title board", "cols 4", "save"}
            << QStringList{"title Tarvello Rododu — board", "shape cols=4 rows=0"};
        QTest::newRow("a cancelled save of a new session is quiet")
            << QStringList{"new", "toast 📄  New session created", "save-cancelled", "quiet",
                           "asked Save Session As", "add", "saveas fresh.vx"}
            << QStringList{"tabs Tab 1|Tab 2", "file fresh.vx"};
        QTest::newRow("a failed autosave is told once, its success after it not at all")
            << QStringList{"cols 3", "lock", "autosave", "toast ⚠️  Autosave failed — your changes are not saved yet",
                           "autosave", "autosave", "quiet", "log Autosave failed: ", "unlock", "autosave", "quiet",
                           "log Autosave failed: ", "save"}
            << QStringList{"shape cols=3 rows=0", "file board.vx"};
        QTest::newRow("a load takes the played track off the bar")
            << QStringList{"play 0/0", "bartrack 0/0", "cols 3", "open", "title board", "save"}
            << QStringList{"bar No Track 0", "title Tarvello Rododu — board"};
    }
    void layoutAndSaveSequences() { runSequence(); }
};

QTEST_MAIN(TestEditSequences)
#include "tst_edit_sequences.moc"
