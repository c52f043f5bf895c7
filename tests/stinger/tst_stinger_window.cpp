// Taking BSI Stinger pages and collections into the main window: tabs and
// panes behind the existing ones, the tab limit, fresh ids, the reports, and
// panes whose buttons only the grid held.
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QSet>
#include <QSlider>
#include <QtTest>

#include "ButtonGrid.h"
#include "EventLog.h"
#include "GridHeader.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "StingerImporter.h"
#include "StingerTestFiles.h"
#include "ThemeManager.h"

using A = MainWindowTestAccess;

namespace {

struct Toast
{
    QString text;
    int type;
};

// Holds the toast queue with a card of its own, so that the toasts asked for
// next wait in the queue with their kinds.
void holdToasts(MainWindow* w)
{
    ToastManager* tm = ToastManager::instance();
    while (ToastWidget* card = tm->current()) {
        delete card;
        tm->pump();
    }
    w->toast(QStringLiteral("hold"), ToastManager::Info, 60000);
    tm->pump();
}

// The toasts that waited behind the held card; every card goes.
QList<Toast> takeToasts()
{
    ToastManager* tm = ToastManager::instance();
    QList<Toast> out;
    for (const ToastManager::Pending& p : tm->queue())
        if (p.text != QLatin1String("hold"))
            out.append({p.text, int(p.type)});
    tm->pump();
    while (ToastWidget* card = tm->current()) {
        delete card;
        tm->pump();
    }
    return out;
}

QStringList logLines(EventLog* log)
{
    QStringList out;
    for (int i = 0; i < log->list()->count(); ++i)
        out << log->list()->item(i)->text();
    return out;
}

} // namespace

class TestStingerWindow : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    EventLog* log = nullptr;
    QString dir;

    // Loads a session of n plain tabs; the window rebuilds its panes.
    void loadTabs(int n)
    {
        const QString path = dir + QStringLiteral("/start%1.vx").arg(n);
        QVERIFY(MainWindowTest::writeSession(MainWindowTest::makeSession(n, 36), path));
        QVERIFY(SessionManager::instance()->loadSession(path));
        QCOMPARE(A::panels(w).size(), n);
        log->clear();
    }

    // Every pane shows the tab of its own index, the strip has a button per
    // tab, and the derived lookups know every button of every tab.
    void checkPanesMatchSession()
    {
        const Session& s = SessionManager::instance()->session();
        QCOMPARE(A::panels(w).size(), s.tabs.size());
        QCOMPARE(A::tabButtons(w).size(), s.tabs.size());
        for (int i = 0; i < s.tabs.size(); ++i) {
            const MainWindow::GridPanel& p = A::panels(w)[i];
            QCOMPARE(p.tabIndex, i);
            QCOMPARE(p.grid->tab().buttons, s.tabs[i].buttons);
            for (const ButtonData& b : s.tabs[i].buttons)
                QCOMPARE(A::tabIndexCache(w).value(b.id, -1), i);
        }
        QCOMPARE(A::currentTab(w), int(A::panels(w).size()) - 1);
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        dir = TestSupport::tempDir();
        w = new MainWindow;
        w->resize(1400, 900);
        w->show();
        log = new EventLog(w);
        A::setEventLog(w, log);
        writeBytes(dir + QStringLiteral("/pages/One.stg"), "[General]\ntitle=One\n[Buttons]\n0caption=A\n");
        for (const char* name : {"P1", "P2", "P3"})
            writeBytes(dir + QStringLiteral("/pages/%1.stg").arg(QLatin1String(name)),
                       QByteArray("[General]\ntitle=") + name + "\n[Buttons]\n1caption=x\n");
        writeBytes(dir + QStringLiteral("/pages/three.col"), "[Sets]\n1=P1.stg\n2=P2.stg\n3=P3.stg\n");
    }
    void cleanupTestCase() { delete w; }

    // The tab limit is checked before each tab.
    void tabLimit_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("added");
        QTest::addColumn<bool>("limit");
        QTest::newRow("page into one tab") << 1 << "One.stg" << 1 << false;
        QTest::newRow("page into 15 tabs") << 15 << "One.stg" << 1 << false;
        QTest::newRow("page into 16 tabs") << 16 << "One.stg" << 0 << true;
        QTest::newRow("collection of three into 14 tabs") << 14 << "three.col" << 2 << true;
        QTest::newRow("collection of three into 2 tabs") << 2 << "three.col" << 3 << false;
    }
    void tabLimit()
    {
        QFETCH(int, before);
        QFETCH(QString, file);
        QFETCH(int, added);
        QFETCH(bool, limit);
        loadTabs(before);
        const QString path = dir + QStringLiteral("/pages/") + file;
        const StingerImporter::Result r =
            file.endsWith(QLatin1String(".col")) ? StingerImporter::importCol(path) : StingerImporter::importStg(path);
        QVERIFY(r.ok);
        QVERIFY(!SessionManager::instance()->isDirty());

        holdToasts(w);
        w->applyStingerImport(r, file);
        QCOMPARE(SessionManager::instance()->session().tabs.size(), before + added);
        checkPanesMatchSession();
        QVERIFY(SessionManager::instance()->isDirty());
        for (int k = 0; k < added; ++k)
            QCOMPARE(SessionManager::instance()->session().tabs[before + k].name, r.tabs[k].name);

        QList<Toast> expected;
        if (limit)
            expected.append({QStringLiteral("⚠️  Tab limit (16) reached — some Stinger tabs were skipped."),
                             ToastManager::Warning});
        expected.append({QStringLiteral("✅  %1 Stinger tab(s) imported").arg(added), ToastManager::Success});
        const QList<Toast> got = takeToasts();
        QCOMPARE(got.size(), expected.size());
        for (int k = 0; k < got.size(); ++k) {
            QCOMPARE(got[k].text, expected[k].text);
            QCOMPARE(got[k].type, expected[k].type);
        }
        QVERIFY(logLines(log).isEmpty());
    }

    // The same page twice: every tab and button id in the session differs.
    void samePageTwice()
    {
        loadTabs(1);
        const StingerImporter::Result r = StingerImporter::importStg(dir + QStringLiteral("/pages/One.stg"));
        w->applyStingerImport(r, QStringLiteral("One.stg"));
        w->applyStingerImport(r, QStringLiteral("One.stg"));
        takeToasts();
        const Session& s = SessionManager::instance()->session();
        QCOMPARE(s.tabs.size(), 3);
        QSet<QString> ids;
        int count = 0;
        for (const TabData& t : s.tabs) {
            ids.insert(t.id);
            ++count;
            for (const ButtonData& b : t.buttons) {
                ids.insert(b.id);
                ++count;
            }
        }
        QCOMPARE(ids.size(), count);
        QVERIFY(!ids.contains(r.tabs[0].id));
        QCOMPARE(s.tabs[1].buttons[0].name, QStringLiteral("A"));
        checkPanesMatchSession();
    }

    // Pages that give nothing usable: a warning box with every warning, and
    // the session as it was.
    void nothingUsable_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text");   // {dir}: the pages folder
        QTest::newRow("missing page") << "gone.stg" << "No usable tabs found in: gone.stg\n\nFile not found: {dir}/gone.stg";
        QTest::newRow("collection of missing pages")
            << "lost.col"
            << "No usable tabs found in: lost.col\n\nSet 1 — .stg not found: C:/x/a.stg\nSet 2 — .stg not found: b.stg";
        QTest::newRow("collection of empty entries") << "blank.col" << "No usable tabs found in: blank.col";
    }
    void nothingUsable()
    {
        QFETCH(QString, file);
        QFETCH(QString, text);
        const QString pages = dir + QStringLiteral("/pages");
        writeBytes(pages + QStringLiteral("/lost.col"), "[Sets]\n1=C:\\x\\a.stg\n2=b.stg\n");
        writeBytes(pages + QStringLiteral("/blank.col"), "[Sets]\n1=\n");
        loadTabs(2);
        const Session before = SessionManager::instance()->session();
        QList<Modal::Request> asked;
        {
            TestSupport::ModalScript script([&](const Modal::Request& r) {
                asked << r;
                if (r.kind == Modal::Kind::OpenFile)
                    return QVariant(pages + QLatin1Char('/') + file);
                return QVariant(int(QMessageBox::Ok));
            });
            if (file.endsWith(QLatin1String(".col")))
                w->onImportCol();
            else
                w->onImportStg();
            QTRY_COMPARE(asked.size(), 2);
        }
        QCOMPARE(asked[1].kind, Modal::Kind::MessageBox);
        QCOMPARE(asked[1].title, QStringLiteral("Stinger Import"));
        QCOMPARE(asked[1].text, text.replace(QStringLiteral("{dir}"), pages));
        QCOMPARE(asked[1].parent, static_cast<QWidget*>(w));
        QVERIFY(SessionManager::instance()->session() == before);
        QVERIFY(!SessionManager::instance()->isDirty());
        QCOMPARE(A::panels(w).size(), 2);
        holdToasts(w);
        QVERIFY(takeToasts().isEmpty());
    }

    // The worked case through the command: a collection whose pages name
    // Windows paths, one page missing, one audio file missing.
    void collectionThroughCommand()
    {
        const QString show = dir + QStringLiteral("/show");
        QDir().mkpath(show + QStringLiteral("/Audio"));
        TestSupport::writeWav16(show + QStringLiteral("/Audio/boom.wav"), TestSupport::sine(440, 0.2, 2, 44100), 2,
                                44100);
        writeBytes(show + QStringLiteral("/Intro.stg"),
                   "[General]\ntitle=Intro\ncolor=16711680\n[Buttons]\n0caption=Boom\n0file=C:\\BSI\\boom.wav\n"
                   "0color=255\n0volume=80\n0loop=1\n0fadein=1.5\n1caption=[BLANK]\n1file=C:\\BSI\\gone.wav\n");
        writeBytes(show + QStringLiteral("/Beds.stg"), "[Buttons]\n2caption=Bed\n");
        writeBytes(show + QStringLiteral("/show.col"),
                   "[Sets]\n10=Beds.stg\n2=C:\\BSI\\Intro.stg   ; the intro\n1=C:\\BSI\\Missing.stg\n");
        loadTabs(1);

        QList<Modal::Request> asked;
        {
            TestSupport::ModalScript script([&](const Modal::Request& r) {
                asked << r;
                return QVariant(show + QStringLiteral("/show.col"));
            });
            holdToasts(w);
            w->onImportCol();
            QTRY_COMPARE(A::panels(w).size(), 3);
        }
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, Modal::Kind::OpenFile);
        QCOMPARE(asked[0].title, QStringLiteral("Import Stinger Collection"));
        QCOMPARE(asked[0].text, QStringLiteral("BSI Stinger Collection (*.col);;All Files (*)"));
        QCOMPARE(asked[0].label, QString());
        checkPanesMatchSession();

        const Session& s = SessionManager::instance()->session();
        QCOMPARE(s.tabs[1].name, QStringLiteral("Intro"));
        QCOMPARE(s.tabs[2].name, QStringLiteral("Beds"));
        const ButtonData& boom = s.tabs[1].buttons[0];
        QCOMPARE(boom.audioPath, show + QStringLiteral("/Audio/boom.wav"));
        QCOMPARE(boom.bgColor, QColor(255, 0, 0));
        QCOMPARE(boom.volume, 0.8);
        QVERIFY(boom.loop);
        QCOMPARE(boom.fadeIn, 1.5);

        // The new panes: the tab's own name and colour, its buttons shown.
        const MainWindow::GridPanel& intro = A::panels(w)[1];
        QCOMPARE(intro.header->nameLabel()->text(), QStringLiteral("Intro"));
        QVERIFY(intro.header->dot()->styleSheet().contains(QLatin1String("#0000ff")));
        QCOMPARE(intro.grid->buttonWidgetById(boom.id)->buttonData().name, QStringLiteral("Boom"));
        QVERIFY(A::panels(w)[2].panel->isVisible());   // the last pane is current
        QVERIFY(!intro.panel->isVisible());

        const QList<Toast> toasts = takeToasts();
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts[0].text,
                 QStringLiteral("✅  2 Stinger tab(s) imported (2 audio file(s) missing — see Event Log)"));
        QCOMPARE(toasts[0].type, int(ToastManager::Warning));

        QStringList lines = logLines(log);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(QStringLiteral("Stinger Import: Set 1 — .stg not found: C:/BSI/Missing.stg")));
        QVERIFY(lines[1].endsWith(QStringLiteral("Stinger Import: Button \"1\" (#1) — audio not found: C:\\BSI\\gone.wav")));
        QCOMPARE(log->list()->item(0)->foreground().color(), EventLog::statusColor(QStringLiteral("warn")));
    }

    void cancelDoesNothing()
    {
        loadTabs(1);
        TestSupport::ModalScript script([](const Modal::Request&) { return QVariant(QString()); });
        w->onImportStg();
        w->onImportCol();
        QTest::qWait(50);
        QCOMPARE(A::panels(w).size(), 1);
        QVERIFY(!SessionManager::instance()->isDirty());
    }

    // An imported pane's header: the tab's name and colour as they are, and
    // its fade, volume, keys and device from the tab, as after a load.
    void headerFromTab_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<double>("fadeMs");
        QTest::addColumn<double>("volume");
        QTest::addColumn<int>("slider");
        QTest::addColumn<QString>("stopKey");
        QTest::newRow("plain") << QColor(0xE3, 0x1B, 0x23) << 100.0 << 1.0 << 100 << "";
        QTest::newRow("no colour stays none") << QColor() << 100.0 << 1.0 << 100 << "";
        QTest::newRow("own fade and volume") << QColor(Qt::green) << 2500.0 << 0.4 << 40 << "F9";
        QTest::newRow("silent tab counts as full") << QColor(Qt::blue) << 0.0 << 0.0 << 100 << "";
    }
    void headerFromTab()
    {
        QFETCH(QColor, color);
        QFETCH(double, fadeMs);
        QFETCH(double, volume);
        QFETCH(int, slider);
        QFETCH(QString, stopKey);
        loadTabs(1);
        StingerImporter::Result r;
        r.ok = true;
        TabData t;
        t.name = QStringLiteral("Made");
        t.color = color;
        t.fadeMs = fadeMs;
        t.volume = volume;
        t.stopKey = stopKey;
        r.tabs << t;
        w->applyStingerImport(r, QStringLiteral("made.stg"));
        takeToasts();
        GridHeader* h = A::panels(w)[1].header;
        QCOMPARE(h->nameLabel()->text(), QStringLiteral("Made"));
        const QString dot = h->dot()->styleSheet();
        if (color.isValid())
            QVERIFY2(dot.contains(color.name()), qPrintable(dot));
        else
            QVERIFY2(!dot.contains(ThemeManager::vibrantColor(1).name()), qPrintable(dot));
        QCOMPARE(h->fadeMs(), fadeMs);
        QCOMPARE(h->m_volSlider->value(), slider);
        QCOMPARE(h->m_stopKey, stopKey);
        QCOMPARE(SessionManager::instance()->session().tabs[1].fadeMs, fadeMs);   // the header wrote nothing back
        // A stored volume below 0.01 is taken in as full, as the slider shows.
        QCOMPARE(SessionManager::instance()->session().tabs[1].volume, MainWindow::effectiveTabVolume(volume));
        // The one wiring: the fade chosen on this header lands in its tab.
        emit h->fadeChanged(750.0);
        QCOMPARE(SessionManager::instance()->session().tabs[1].fadeMs, 750.0);
    }

    // A page that could not be opened: its 36 buttons exist only in the grid
    // until written back; an edit of one survives saving and loading.
    void unopenablePageKeepsEdits()
    {
        const QString folder = dir + QStringLiteral("/pages/Locked.stg");
        QDir().mkpath(folder);
        loadTabs(1);
        holdToasts(w);
        w->applyStingerImport(StingerImporter::importStg(folder), QStringLiteral("Locked.stg"));
        const QList<Toast> toasts = takeToasts();
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts[0].text, QStringLiteral("✅  1 Stinger tab(s) imported"));
        QCOMPARE(logLines(log).size(), 1);
        QVERIFY(logLines(log)[0].endsWith(QStringLiteral("Cannot open: ") + folder));

        Session& s = SessionManager::instance()->session();
        QCOMPARE(s.tabs[1].name, QStringLiteral("Locked"));
        QCOMPARE(s.tabs[1].buttons.size(), 36);
        checkPanesMatchSession();

        // An edit lands in the session's record of the button, found by id.
        const QString id = A::panels(w)[1].grid->buttonWidget(4)->buttonData().id;
        bool edited = false;
        for (ButtonData& b : s.tabs[1].buttons) {
            if (b.id == id) {
                b.name = QStringLiteral("Edited");
                edited = true;
            }
        }
        QVERIFY(edited);
        SessionManager::instance()->markDirty();

        const QString path = dir + QStringLiteral("/locked.vx");
        w->syncGridsToSession();
        QVERIFY(SessionManager::instance()->saveSession(path));
        QVERIFY(SessionManager::instance()->loadSession(path));
        const Session& back = SessionManager::instance()->session();
        QCOMPARE(back.tabs.size(), 2);
        QCOMPARE(back.tabs[1].buttons.size(), 36);
        QCOMPARE(back.tabs[1].buttons[4].id, id);
        QCOMPARE(back.tabs[1].buttons[4].name, QStringLiteral("Edited"));
        QCOMPARE(A::panels(w)[1].grid->buttonWidget(4)->buttonData().name, QStringLiteral("Edited"));
    }
};

QTEST_MAIN(TestStingerWindow)
#include "tst_stinger_window.moc"
