// The export as the user meets it: the save first, the scope dialog, the
// file dialog, the progress dialog on its worker thread and the one box at
// the end, with the dialog, the worker and the thread gone afterwards.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRadioButton>
#include <QThread>
#include <QtTest>

#include "BundleManager.h"
#include "BundleTestUtil.h"
#include "BundleWorker.h"
#include "SessionManager.h"
#include "TestSupport.h"

using namespace BundleTest;

namespace {

struct Seen
{
    Modal::Kind kind;
    QString title;
    QString text;   // box text, or a file chooser's start
};

// How the scripted user answers the scope dialog.
struct ScopeAnswer
{
    bool accept = true;
    bool perTab = false;
    QList<int> untick;   // tab positions to untick
};

} // namespace

class TestBundleGui : public QObject
{
    Q_OBJECT

    QString m_dir;
    QWidget* m_parent = nullptr;
    QList<Seen> m_seen;
    bool m_dialogOpenAtBox = false;
    QStringList m_scopeLabels;
    bool m_groupShownOnToggle = false;

    // Answers every modal request: the save chooser with saveAs, the scope
    // dialog with scope, the bundle chooser with bundleAs.
    Modal::Handler script(QString saveAs, ScopeAnswer scope, QString bundleAs)
    {
        return [=](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::MessageBox) {
                m_dialogOpenAtBox = false;
                for (QProgressDialog* d : m_parent->findChildren<QProgressDialog*>())
                    m_dialogOpenAtBox = m_dialogOpenAtBox || d->isVisible();
            }
            m_seen << Seen{r.kind, r.title, r.kind == Modal::Kind::SaveFile ? r.label : r.text};
            switch (r.kind) {
            case Modal::Kind::SaveFile:
                return r.title == QLatin1String("Export Bundle") ? bundleAs : saveAs;
            case Modal::Kind::Dialog: {
                m_scopeLabels.clear();
                for (QCheckBox* cb : r.dialog->findChildren<QCheckBox*>())
                    m_scopeLabels << cb->text();
                auto* group = r.dialog->findChild<QGroupBox*>();
                const bool hiddenAtStart = group->isHidden();
                r.dialog->findChild<QRadioButton*>(scope.perTab ? "perTab" : "bulk")->setChecked(true);
                m_groupShownOnToggle = hiddenAtStart && (group->isHidden() != scope.perTab);
                const QList<QCheckBox*> boxes = r.dialog->findChildren<QCheckBox*>();
                for (int i : scope.untick)
                    boxes.at(i)->setChecked(false);
                return scope.accept ? QDialog::Accepted : QDialog::Rejected;
            }
            default:
                return QMessageBox::Ok;
            }
        };
    }

    // No box when title is empty, else exactly one with that title whose text passes check.
    void verifyOneBox(const QString& title, const std::function<bool(const QString&)>& check)
    {
        const QList<Seen> shown = boxes();
        if (title.isEmpty()) {
            QVERIFY(shown.isEmpty());
            return;
        }
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().title, title);
        QVERIFY2(check(shown.first().text), qPrintable(shown.first().text));
        QVERIFY(!m_dialogOpenAtBox);
    }

    QList<Seen> boxes() const
    {
        QList<Seen> out;
        for (const Seen& s : m_seen)
            if (s.kind == Modal::Kind::MessageBox)
                out << s;
        return out;
    }

    // A saved session of three tabs, one audio file each (the second tab's
    // file is missing), as the current session.
    QString makeCurrentSession(const QString& file = QStringLiteral("show.vx"))
    {
        const QString src = m_dir + QStringLiteral("/src");
        writeFile(src + QStringLiteral("/a.wav"), noise(1000, 1));
        writeFile(src + QStringLiteral("/c.mp3"), noise(1000, 3));
        Session s;
        s.tabs << tab(QStringLiteral("Jingles"), {src + QStringLiteral("/a.wav"), QString()})
               << tab(QString(), {src + QStringLiteral("/gone.wav")})
               << tab(QStringLiteral("Beds"), {src + QStringLiteral("/c.mp3"), src + QStringLiteral("/a.wav")});
        s.filePath = m_dir + QLatin1Char('/') + file;
        SessionManager::instance()->session() = s;
        return s.filePath;
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        m_parent = new QWidget;
        m_parent->resize(600, 400);
        m_parent->show();
    }
    void cleanupTestCase() { delete m_parent; }
    void init()
    {
        m_dir = TestSupport::tempDir();
        m_seen.clear();
    }

    void exportFlow_data()
    {
        QTest::addColumn<QString>("setup");       // saved, unsaved, folderGone, noTabs
        QTest::addColumn<bool>("perTab");
        QTest::addColumn<QList<int>>("untick");
        QTest::addColumn<bool>("acceptScope");
        QTest::addColumn<QString>("bundleAs");    // file name in m_dir, or "" for Cancel
        QTest::addColumn<QString>("suggested");   // file name under home, "" when not asked
        QTest::addColumn<QString>("boxTitle");    // the one box, "" for none
        QTest::addColumn<QString>("boxText");     // %1: the bundle written
        QTest::addColumn<QStringList>("entries"); // audio entries of the bundle

        const QString warn = QStringLiteral("Export Bundle");
        const QString ok = QStringLiteral("Bundle exported successfully!\n\n%1\n\n%2 audio file(s) packed.");
        // Tab 2's one sound has no file.
        const QString leftOut = QStringLiteral("Bundle exported, but 1 sound(s) were left out: their audio files are "
                                               "missing (listed in the event log).\n\n%1\n\n%2 audio file(s) packed.");
        QTest::newRow("whole session") << "saved" << false << QList<int>{} << true << "out.vxbundle" << "show.vxbundle"
                                       << "Bundle" << QString(leftOut).replace("%2", "2")
                                       << QStringList{"Audio/Jingles/a.wav", "Audio/Beds/c.mp3"};
        QTest::newRow("suffix compared case-sensitively")
            << "saved" << false << QList<int>{} << true << "export.VXBUNDLE" << "show.vxbundle" << "Bundle"
            << QString(leftOut).replace("%2", "2") << QStringList{"Audio/Jingles/a.wav", "Audio/Beds/c.mp3"};
        QTest::newRow("one tab suggests its name")
            << "saved" << true << QList<int>{0, 1} << true << "beds.vxbundle" << "show_Beds.vxbundle" << "Bundle"
            << QString(ok).replace("%2", "2") << QStringList{"Audio/Beds/c.mp3", "Audio/Beds/a.wav"};
        QTest::newRow("one unnamed tab") << "saved" << true << QList<int>{0, 2} << true << "t.vxbundle"
                                         << "show_Tab.vxbundle" << "Bundle" << QString(leftOut).replace("%2", "0")
                                         << QStringList{};
        QTest::newRow("two tabs suggest the session name")
            << "saved" << true << QList<int>{1} << true << "two.vxbundle" << "show.vxbundle" << "Bundle"
            << QString(ok).replace("%2", "2") << QStringList{"Audio/Jingles/a.wav", "Audio/Beds/c.mp3"};
        QTest::newRow("no tab ticked") << "saved" << true << QList<int>{0, 1, 2} << true << "" << "" << warn
                                       << "No tabs selected. Please select at least one tab." << QStringList{};
        QTest::newRow("scope rejected") << "saved" << false << QList<int>{} << false << "" << "" << "" << ""
                                        << QStringList{};
        QTest::newRow("file dialog cancelled") << "saved" << false << QList<int>{} << true << "" << "show.vxbundle"
                                               << "" << "" << QStringList{};
        QTest::newRow("never saved, save cancelled")
            << "unsaved" << false << QList<int>{} << true << "" << "" << warn
            << "Please save your project (.vx) before exporting a bundle." << QStringList{};
        QTest::newRow("session folder gone") << "folderGone" << false << QList<int>{} << true << "x.vxbundle" << ""
                                             << warn << "Could not save the session; bundle not exported."
                                             << QStringList{};
        QTest::newRow("no tabs") << "noTabs" << false << QList<int>{} << true << "x.vxbundle" << "" << warn
                                 << "No tabs to export." << QStringList{};
    }
    void exportFlow()
    {
        QFETCH(QString, setup);
        QFETCH(bool, perTab);
        QFETCH(QList<int>, untick);
        QFETCH(bool, acceptScope);
        QFETCH(QString, bundleAs);
        QFETCH(QString, suggested);
        QFETCH(QString, boxTitle);
        QFETCH(QString, boxText);
        QFETCH(QStringList, entries);

        const QString vx = makeCurrentSession();
        SessionManager* sm = SessionManager::instance();
        if (setup == "unsaved")
            sm->session().filePath.clear();
        if (setup == "folderGone") {
            sm->session().filePath = m_dir + QStringLiteral("/gone/show.vx");
            writeFile(sm->session().filePath, "old");
            QVERIFY(QDir(m_dir + QStringLiteral("/gone")).removeRecursively());
        }
        if (setup == "noTabs")
            sm->session().tabs.clear();

        QString target = bundleAs.isEmpty() ? QString() : m_dir + QLatin1Char('/') + bundleAs;
        TestSupport::ModalScript modal(script(QString(), ScopeAnswer{acceptScope, perTab, untick}, target));
        BundleManager::instance()->exportBundle(m_parent);
        QTRY_VERIFY(boxTitle.isEmpty() || !boxes().isEmpty());
        QTest::qWait(20);   // a second box would come now

        QString askedFrom;
        for (const Seen& s : m_seen)
            if (s.kind == Modal::Kind::SaveFile && s.title == QLatin1String("Export Bundle"))
                askedFrom = s.text;
        QCOMPARE(askedFrom, suggested.isEmpty() ? QString() : QDir::homePath() + QLatin1Char('/') + suggested);

        if (!target.endsWith(QLatin1String(".vxbundle")) && !target.isEmpty())
            target += QStringLiteral(".vxbundle");
        const QString expectedText = QString(boxText).replace(QStringLiteral("%1"), target);
        verifyOneBox(boxTitle, [&](const QString& text) { return text == expectedText; });
        if (boxTitle == QLatin1String("Bundle")) {
            QString err;
            const QList<Entry> got = readBundle(readFile(target), &err);
            QVERIFY2(err.isEmpty(), qPrintable(err));
            QCOMPARE(withoutIcon(names(got)), QStringList{"project.vx"} + entries + QStringList{"manifest.json"});
            // The session was saved first and is packed as it is on disk, every tab of it.
            QCOMPARE(got.first().content, readFile(vx));
            QCOMPARE(QJsonDocument::fromJson(got.first().content).object().value("tabs").toArray().size(), 3);
        } else if (!target.isEmpty()) {
            QVERIFY(!QFile::exists(target));
        }
        if (setup == "folderGone")
            QVERIFY(!QFile::exists(m_dir + QStringLiteral("/gone")));
        if (acceptScope && setup == "saved")
            QCOMPARE(m_scopeLabels, (QStringList{"Jingles  (1 sound(s))", "Tab 2  (1 sound(s))", "Beds  (2 sound(s))"}));
        if (perTab && setup == "saved")
            QVERIFY(m_groupShownOnToggle);
    }

    // One job, one result: the handler runs once, closes the dialog before
    // its box, and leaves no dialog, worker or thread behind.
    void resultHandledOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("boxTitle");
        QTest::addColumn<QString>("boxPrefix");
        QTest::newRow("success") << "ok" << "Bundle" << "Bundle exported successfully!";
        QTest::newRow("failure") << "badTarget" << "Bundle Error" << "Cannot create bundle file:";
        QTest::newRow("failure naming a Cancelled file") << "cancelledName" << "Bundle Error" << "Cannot read: ";
        QTest::newRow("cancel") << "cancel" << "" << "";
    }
    void resultHandledOnce()
    {
        QFETCH(QString, how);
        QFETCH(QString, boxTitle);
        QFETCH(QString, boxPrefix);

        writeFile(m_dir + QStringLiteral("/a.wav"), noise(4000));
        Session s;
        s.tabs << tab(QStringLiteral("T"), {m_dir + QStringLiteral("/a.wav")});
        QString vx = writeSession(s, m_dir + QStringLiteral("/s.vx"));
        if (how == "cancelledName")
            vx = m_dir + QStringLiteral("/Cancelled take.vx");
        QString target = m_dir + QStringLiteral("/r.vxbundle");
        if (how == "badTarget")
            target = vx + QStringLiteral("/r.vxbundle");

        TestSupport::ModalScript modal(script(QString(), {}, QString()));
        auto* worker = new BundleWorker;
        worker->setupExport(vx, target, s);
        if (how == "cancel")
            worker->cancel();
        QPointer<BundleWorker> w(worker);
        BundleManager::instance()->runWorker(worker, m_parent, QStringLiteral("Exporting Bundle…"));
        QPointer<QThread> thread(worker->thread());
        QPointer<QProgressDialog> dialog(m_parent->findChild<QProgressDialog*>());
        QVERIFY(dialog);
        QVERIFY(thread && thread != QThread::currentThread());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QCOMPARE(dialog->minimumDuration(), 0);
        QCOMPARE(dialog->minimumWidth(), 420);
        QCOMPARE(dialog->labelText(), QStringLiteral("Exporting Bundle…"));
        QVERIFY(dialog->isVisible());

        QTRY_VERIFY(!dialog && !w && !thread);
        QTest::qWait(20);
        verifyOneBox(boxTitle, [&](const QString& text) { return text.startsWith(boxPrefix); });
    }

    // The import's choices: what the dialogs show and where the files go.
    void importFlow_data()
    {
        QTest::addColumn<bool>("merge");
        QTest::addColumn<QList<int>>("untick");
        QTest::addColumn<bool>("changeDestination");
        QTest::addColumn<QString>("folder");      // expected destination below its base
        QTest::addColumn<QStringList>("merged");  // tab names handed to the session
        QTest::addColumn<QString>("box");         // the last box's text
        QTest::newRow("new session") << false << QList<int>{} << false << "project" << QStringList{}
                                     << "Bundle imported successfully!";
        QTest::newRow("merge of the second tab") << true << QList<int>{0} << false << "project_imported (2)"
                                                 << QStringList{"Beds"} << "Tab(s) added to the current session.";
        QTest::newRow("merge, destination changed") << true << QList<int>{} << true << "project"
                                                    << QStringList{"Jingles", "Beds"}
                                                    << "Tab(s) added to the current session.";
        QTest::newRow("merge, nothing ticked") << true << QList<int>{0, 1} << false << "" << QStringList{}
                                               << "No tabs selected. Please select at least one tab.";
    }
    void importFlow()
    {
        QFETCH(bool, merge);
        QFETCH(QList<int>, untick);
        QFETCH(bool, changeDestination);
        QFETCH(QString, folder);
        QFETCH(QStringList, merged);
        QFETCH(QString, box);

        // A bundle of our own with two tabs that have audio.
        const QString vx = makeCurrentSession();
        SessionManager::instance()->saveSession(QString());
        const QString bundle = m_dir + QStringLiteral("/b.vxbundle");
        BundleWorker ex;
        ex.setupExport(vx, bundle, SessionManager::instance()->session());
        QVERIFY(run(ex).ok);
        // The merge's base is the session's folder, which already holds two earlier imports.
        QDir().mkpath(m_dir + QStringLiteral("/project_imported"));
        QDir().mkpath(m_dir + QStringLiteral("/project_imported (1)"));
        const QString otherBase = m_dir + QStringLiteral("/elsewhere");
        QDir().mkpath(otherBase);

        QStringList got;
        auto conn = connect(BundleManager::instance(), &BundleManager::tabsReadyForSession, this,
                            [&](QList<TabData> tabs) {
                                for (const TabData& t : tabs) {
                                    got << t.name;
                                    SessionManager::instance()->session().tabs << t;
                                }
                            });
        QString tree, contains, heading;
        QStringList boxTexts;
        TestSupport::ModalScript modal([&](const Modal::Request& r) -> QVariant {
            switch (r.kind) {
            case Modal::Kind::OpenFile:
                return bundle;
            case Modal::Kind::Directory:
                return r.title == QLatin1String("Choose Destination Folder") && r.parent != m_parent ? otherBase : m_dir;
            case Modal::Kind::Dialog:
                if (r.title == QLatin1String("Import Bundle")) {
                    for (QLabel* l : r.dialog->findChildren<QLabel*>())
                        if (l->text().startsWith(QLatin1String("Contains")))
                            contains = l->text();
                    r.dialog->findChild<QRadioButton*>(merge ? "merge" : "newSession")->setChecked(true);
                    const QList<QCheckBox*> boxes = r.dialog->findChildren<QCheckBox*>();
                    for (int i : untick)
                        boxes.at(i)->setChecked(false);
                } else {
                    if (changeDestination)
                        r.dialog->findChild<QPushButton*>("changeDestination")->click();
                    tree = r.dialog->findChild<QPlainTextEdit*>("tree")->toPlainText();
                }
                return QDialog::Accepted;
            case Modal::Kind::MessageBox:
                boxTexts << r.text;
                return QMessageBox::Ok;
            default:
                return QVariant();
            }
        });
        BundleManager::instance()->importBundle(m_parent);
        QTRY_VERIFY(!boxTexts.isEmpty());
        QTest::qWait(50);
        disconnect(conn);

        QCOMPARE(contains, QStringLiteral("Contains 2 tab(s): Jingles, Beds"));
        QVERIFY2(boxTexts.last().startsWith(box), qPrintable(boxTexts.last()));
        QCOMPARE(got, merged);
        if (folder.isEmpty())
            return;
        const QString base = changeDestination ? otherBase : m_dir;
        const QString dest = base + QLatin1Char('/') + folder;
        QVERIFY2(tree.startsWith(dest + QStringLiteral("/\n")), qPrintable(tree));
        QVERIFY(QFileInfo(dest + QStringLiteral("/Audio/Jingles/a.wav")).isFile());
        QCOMPARE(QFile::exists(dest + QStringLiteral("/project.vx")), !merge);
        // With every tab taken, every folder the files went to is one the
        // confirmation showed.
        for (const QString& made : QDir(dest + QStringLiteral("/Audio")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QVERIFY2(!untick.isEmpty() || tree.contains(QStringLiteral("─ ") + made + QStringLiteral("/\n")), qPrintable(tree));
    }

    // The tab choices of the export and of the import stay on the screen
    // however many tabs there are: the list scrolls, Next and Cancel show.
    void tabChoiceFitsTheScreen_data()
    {
        QTest::addColumn<bool>("import");
        QTest::addColumn<int>("tabs");
        QTest::newRow("export, 3 tabs") << false << 3;
        QTest::newRow("export, 45 tabs") << false << 45;
        QTest::newRow("import, 3 tabs") << true << 3;
        QTest::newRow("import, 45 tabs") << true << 45;
    }
    void tabChoiceFitsTheScreen()
    {
        QFETCH(bool, import);
        QFETCH(int, tabs);
        const QString src = m_dir + QStringLiteral("/src");
        writeFile(src + QStringLiteral("/a.wav"), noise(1000, 1));
        Session s;
        for (int i = 0; i < tabs; ++i)
            s.tabs << tab(QStringLiteral("Tab number %1").arg(i + 1), {src + QStringLiteral("/a.wav")});
        s.filePath = m_dir + QStringLiteral("/many.vx");
        SessionManager::instance()->session() = s;
        SessionManager::instance()->saveSession(QString());
        const QString bundle = m_dir + QStringLiteral("/many.vxbundle");
        if (import) {
            BundleWorker ex;
            ex.setupExport(s.filePath, bundle, s);
            QVERIFY(run(ex).ok);
        }

        int ticks = 0;
        bool fits = false;
        TestSupport::ModalScript modal([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::OpenFile)
                return bundle;
            if (r.kind != Modal::Kind::Dialog)
                return QVariant();
            r.dialog->findChild<QRadioButton*>(import ? "merge" : "perTab")->setChecked(true);
            r.dialog->show();
            QCoreApplication::processEvents();
            const QRect screen = r.dialog->screen()->availableGeometry();
            fits = r.dialog->frameGeometry().height() <= screen.height();
            for (QPushButton* b : r.dialog->findChildren<QPushButton*>())
                fits = fits && b->isVisible()
                    && r.dialog->rect().contains(QRect(b->mapTo(r.dialog, QPoint(0, 0)), b->size()));
            ticks = int(r.dialog->findChildren<QCheckBox*>().size());
            r.dialog->hide();
            return QDialog::Rejected;
        });
        if (import)
            BundleManager::instance()->importBundle(m_parent);
        else
            BundleManager::instance()->exportBundle(m_parent);
        QCOMPARE(ticks, tabs);
        QVERIFY(fits);
    }

    void progressValue_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("value");   // from 7
        QTest::newRow("a third truncates") << 1 << 3 << 33;
        QTest::newRow("two thirds truncate") << 2 << 3 << 66;
        QTest::newRow("done") << 5 << 5 << 100;
        QTest::newRow("first of many") << 1 << 1000 << 0;
        QTest::newRow("total 0 keeps the value") << 0 << 0 << 7;
        QTest::newRow("total 0 with a count keeps it") << 4 << 0 << 7;
    }
    void progressValue()
    {
        QFETCH(int, current);
        QFETCH(int, total);
        QFETCH(int, value);
        QProgressDialog d(QStringLiteral("x"), QStringLiteral("Cancel"), 0, 100);
        d.setAutoReset(false);
        d.setValue(7);
        BundleManager::applyProgress(&d, current, total, QStringLiteral("MIDI mappings restored…"));
        QCOMPARE(d.value(), value);
        QCOMPARE(d.labelText(), QStringLiteral("MIDI mappings restored…"));
    }
};

QTEST_MAIN(TestBundleGui)
#include "tst_bundle_gui.moc"
