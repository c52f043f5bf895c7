// The MIDI, Advanced and Shortcuts pages of the settings dialog. MIDI runs on
// the fake input backend, which the manager's instance() hands out here.
#include <QComboBox>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <unistd.h>

#include "AppSettings.h"
#include "FakeMidiBackend.h"
#include "LibraryManager.h"
#include "MidiManager.h"
#include "SessionManager.h"
#include "SettingsDialog.h"
#include "SettingsKeys.h"
#include "SettingsTestUtil.h"
#include "TestSupport.h"
#include "UrlCatcher.h"
#include "WasapiEngine.h"

namespace {

MidiMapping mapping(int ch, int number, const QString& id)
{
    MidiMapping m;
    m.channel = ch;
    m.number = number;
    m.buttonId = id;
    return m;
}

QStringList rowTexts(SettingsDialog& d, const char* box)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QStringList out;
    QWidget* rows = d.findChild<QWidget*>(QString::fromLatin1(box));
    for (QWidget* row : rows->findChildren<QWidget*>(QStringLiteral("assignRow"), Qt::FindDirectChildrenOnly)) {
        QStringList parts{row->findChild<QLabel*>()->text()};
        for (QPushButton* b : row->findChildren<QPushButton*>())
            parts << b->text();
        out << parts.join(QStringLiteral(" | "));
    }
    if (out.isEmpty())
        for (QLabel* l : rows->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            out << l->text();
    return out;
}

QPushButton* rowButton(SettingsDialog& d, const char* box, int row, const QString& text)
{
    QWidget* rows = d.findChild<QWidget*>(QString::fromLatin1(box));
    const QList<QWidget*> all = rows->findChildren<QWidget*>(QStringLiteral("assignRow"), Qt::FindDirectChildrenOnly);
    for (QPushButton* b : all.value(row)->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// The monitor's texts follow at the next frame; runs it now.
void flushMonitor(SettingsDialog& d)
{
    TestSupport::fireTimer(d.findChild<QTimer*>(QStringLiteral("midiMonitorFlush")));
}

QString cell(SettingsDialog& d, int i)
{
    return d.findChild<QLabel*>(QStringLiteral("midiCell%1").arg(i))->text();
}

QPushButton* buttonWith(SettingsDialog& d, const char* property)
{
    for (QPushButton* b : d.findChildren<QPushButton*>())
        if (b->property(property).toBool())
            return b;
    return nullptr;
}

QLabel* labelWith(SettingsDialog& d, const char* property)
{
    for (QLabel* l : d.findChildren<QLabel*>())
        if (l->property(property).toBool())
            return l;
    return nullptr;
}

QByteArray storeBytes()
{
    QFile f(SettingsTest::storePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSettingsPages : public QObject
{
    Q_OBJECT
    FakeMidiBackend fake;
    MidiManager* midi = nullptr;
    TestSupport::UrlCatcher urls{QStringLiteral("file")};
    QStringList boxes;            // every box shown: "title: text"
    QMap<QString, int> answers;   // box title -> answer (default Yes)
    QString directoryAnswer;
    TestSupport::ModalScript* script = nullptr;

    void useSession(const Session& s) { SessionManager::instance()->session() = s; }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(SettingsTest::writeStore(QByteArray()));
        MidiManager::setInstanceBackend(&fake);
        midi = MidiManager::instance();
        // The manager opens every input shortly after it is made: let that
        // pass while there is none.
        QTRY_VERIFY(fake.availabilityAsked > 0);
        script = new TestSupport::ModalScript([this](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::Directory)
                return directoryAnswer;
            if (r.kind != Modal::Kind::MessageBox)
                return QVariant();
            const QString text = r.box ? r.box->text() : r.text;
            boxes << r.title + QStringLiteral(": ") + text;
            return answers.value(r.title, int(QMessageBox::Yes));
        });
    }

    void cleanupTestCase()
    {
        delete script;
    }

    void init()
    {
        QVERIFY(SettingsTest::writeStore(QByteArray()));
        boxes.clear();
        answers.clear();
        directoryAnswer.clear();
        urls.urls.clear();
        fake.inputs.clear();
        midi->clearAllMappings();
        useSession(Session());
    }

    // ---- MIDI ---------------------------------------------------------------

    void deviceList_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("open");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("status");
        QTest::newRow("none") << QStringList{} << QString() << QStringList{"  No MIDI devices detected"}
                              << "No device connected — select a device below";
        QTest::newRow("two, second current") << QStringList{"Pad A", "Pad B"} << "Pad B"
                                             << QStringList{"Pad A", "Pad B  ✓"} << "Connected: Pad B";
        QTest::newRow("a name with markup") << QStringList{"<img src=/dev/zero>"} << "<img src=/dev/zero>"
                                            << QStringList{"<img src=/dev/zero>  ✓"} << "Connected: <img src=/dev/zero>";
    }

    void deviceList()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, open);
        QFETCH(QStringList, rows);
        QFETCH(QString, status);
        // Rows run in order on the one manager: nothing is open in the first.
        MidiManager& own = *midi;
        for (const QString& n : names)
            fake.addInput(n);
        if (!open.isEmpty())
            QVERIFY(own.openInput(open));
        SettingsDialog d;
        auto* list = d.findChild<QListWidget*>(QStringLiteral("midiDeviceList"));
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown << list->item(i)->text();
        QCOMPARE(shown, rows);
        auto* line = d.findChild<QLabel*>(QStringLiteral("midiStatusLine"));
        QCOMPARE(line->text(), status);
        QCOMPARE(line->textFormat(), Qt::PlainText);
        // Mappings live in the settings, under the buttons, for every
        // session; a session file carries none.
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("midiLearnNote"))->text().section(QLatin1Char('\n'), 2),
                 QStringLiteral("Mappings are saved automatically in the program's settings (not in the session "
                                "file) and kept for every session."));
        if (names.isEmpty()) {
            QCOMPARE(list->item(0)->flags(), Qt::NoItemFlags);
        } else {
            QVERIFY(list->item(list->count() - 1)->isSelected());
            fake.calls.clear();
            emit list->itemClicked(list->item(0));
            QCOMPARE(fake.calls.value(0), QStringLiteral("open 0"));
        }
    }

    // A device unplugged while the page is open: its stale row opens
    // nothing, Refresh drops it, the other device's messages still show.
    void unpluggedDevice()
    {
        fake.addInput(QStringLiteral("Keys"));
        fake.addInput(QStringLiteral("Pads"));
        QVERIFY(midi->openInput(QStringLiteral("Keys")));
        SettingsDialog d;
        auto* list = d.findChild<QListWidget*>(QStringLiteral("midiDeviceList"));
        QCOMPARE(list->count(), 2);
        fake.unplug(1);
        QSignalSpy devices(midi, &MidiManager::devicesChanged);
        emit list->itemClicked(list->item(1));
        QCOMPARE(devices.size(), 0);
        QCOMPARE(midi->currentDevice(), QStringLiteral("Keys"));
        for (QPushButton* b : d.findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("Refresh Device List"))
                b->click();
        QCOMPARE(list->count(), 1);
        QVERIFY(fake.play(0, MidiShortMessage::pack(0x90, 62, 90)));
        QTRY_COMPARE(cell(d, 1), QStringLiteral("62\n(D4)"));
    }

    void monitor_data()
    {
        QTest::addColumn<bool>("isCC");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("value");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QString>("line");
        QTest::newRow("note 60") << false << 1 << 60 << 100 << QStringList{"1", "60\n(C4)", "100", "—"}
                                 << "Note ON — Ch1  C4  vel:100";
        QTest::newRow("note 127") << false << 2 << 127 << 1 << QStringList{"2", "127\n(G9)", "1", "—"}
                                  << "Note ON — Ch2  G9  vel:1";
        QTest::newRow("note 0") << false << 3 << 0 << 5 << QStringList{"3", "0\n(C-1)", "5", "—"}
                                << "Note ON — Ch3  C-1  vel:5";
        QTest::newRow("velocity 0") << false << 1 << 61 << 0 << QStringList{"1", "61\n(C#4)", "0", "—"}
                                    << "Note OFF — Ch1  C#4";
        QTest::newRow("past the table") << false << 1 << 200 << 9 << QStringList{"1", "200\n(G#15)", "9", "—"}
                                        << "Note ON — Ch1  G#15  vel:9";
        QTest::newRow("below the table") << false << 1 << -5 << 9 << QStringList{"1", "-5\n(G-2)", "9", "—"}
                                         << "Note ON — Ch1  G-2  vel:9";
        QTest::newRow("CC 7 on 16") << true << 16 << 7 << 64 << QStringList{"16", "—", "64", "7"}
                                    << "CC 7 = 64  on Ch16";
    }

    void monitor()
    {
        QFETCH(bool, isCC);
        QFETCH(int, channel);
        QFETCH(int, number);
        QFETCH(int, value);
        QFETCH(QStringList, cells);
        QFETCH(QString, line);
        SettingsDialog d;
        if (isCC)
            emit midi->ccReceived(channel, number, value);
        else
            emit midi->noteReceived(channel, number, value);
        flushMonitor(d);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(cell(d, i), cells[i]);
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("midiMonitorLine"))->text(), line);
    }

    // Two messages 150 ms apart: the first one's reset turns the dot idle,
    // the second's is still pending and restarts nothing.
    void dotResetsPerMessage()
    {
        SettingsDialog d;
        auto* dot = d.findChild<QLabel*>(QStringLiteral("midiMonitorDot"));
        const QString idle = dot->styleSheet();
        emit midi->noteReceived(1, 60, 100);
        QList<QTimer*> first = dot->findChildren<QTimer*>(QStringLiteral("midiDotReset"));
        QCOMPARE(first.size(), 1);
        emit midi->ccReceived(1, 7, 10);
        const QList<QTimer*> both = dot->findChildren<QTimer*>(QStringLiteral("midiDotReset"));
        QCOMPARE(both.size(), 2);
        QVERIFY(first[0]->isActive());
        QCOMPARE(first[0]->interval(), 200);
        QVERIFY(dot->styleSheet() != idle);
        TestSupport::fireTimer(first[0]);
        QCOMPARE(dot->styleSheet(), idle);
        QVERIFY(both[1]->isActive());
        // The texts show the last of the two messages.
        flushMonitor(d);
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("midiMonitorLine"))->text(), QStringLiteral("CC 7 = 10  on Ch1"));
    }

    void tabRows_data()
    {
        QTest::addColumn<QString>("key0");
        QTest::addColumn<int>("note0");
        QTest::addColumn<int>("cc1");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("stop key") << "F5" << -1 << -1 << QStringList{"Tab 1  —  Stop: [F5]    Vol: — | Stop"};
        QTest::newRow("key and note, controller")
            << "F5" << 36 << 7
            << QStringList{"Tab 1  —  Stop: [F5] MIDI note 36   Vol: — | Stop", "Tab 2  —  Stop: —   Vol: MIDI CC 7 | Vol"};
        QTest::newRow("markup key") << "<b>X</b>" << -1 << -1 << QStringList{"Tab 1  —  Stop: [<b>X</b>]    Vol: — | Stop"};
        QTest::newRow("none") << QString() << -1 << -1 << QStringList{"  No tabs with MIDI/shortcut assignments"};
    }

    void tabRows()
    {
        QFETCH(QString, key0);
        QFETCH(int, note0);
        QFETCH(int, cc1);
        QFETCH(QStringList, rows);
        Session s;
        s.tabs.resize(2);
        s.tabs[0].stopKey = key0;
        s.tabs[0].stopMidi = note0;
        s.tabs[1].volCC = cc1;
        useSession(s);
        midi->addMapping(mapping(1, 36, QStringLiteral("__tab_stop_0__")));
        SettingsDialog d;
        QCOMPARE(rowTexts(d, "midiTabRows"), rows);
        if (key0.isEmpty())
            return;
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        QSignalSpy dirty(SessionManager::instance(), &SessionManager::dirtyChanged);
        rowButton(d, "midiTabRows", 0, QStringLiteral("Stop"))->click();
        const TabData& t = SessionManager::instance()->session().tabs[0];
        QVERIFY(t.stopKey.isEmpty());
        QCOMPARE(t.stopMidi, -1);
        QVERIFY(!midi->mappingForButton(QStringLiteral("__tab_stop_0__")).isBound());
        QCOMPARE(changed.size(), 1);
        QCOMPARE(dirty.size(), 1);
        QCOMPARE(rowTexts(d, "midiTabRows").size(), cc1 >= 0 ? 1 : 1);
        QVERIFY(!rowTexts(d, "midiTabRows").join(' ').contains(QStringLiteral("Tab 1")));
        SessionManager::instance()->setDirty(false);
    }

    // A row left from before the tab went: its button does nothing.
    void staleTabIndex()
    {
        Session s;
        s.tabs.resize(2);
        s.tabs[1].stopKey = QStringLiteral("F6");
        useSession(s);
        SettingsDialog d;
        QPushButton* stop = rowButton(d, "midiTabRows", 0, QStringLiteral("Stop"));
        SessionManager::instance()->session().tabs.removeLast();
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        QSignalSpy mappings(midi, &MidiManager::mappingChanged);
        stop->click();
        QCOMPARE(changed.size(), 0);
        QCOMPARE(mappings.size(), 0);
    }

    void buttonRows()
    {
        Session s;
        s.tabs.resize(1);
        ButtonData a;
        a.id = QStringLiteral("A");
        a.name = QStringLiteral("<img src=/dev/zero>");
        ButtonData b;
        b.id = QStringLiteral("B");
        b.audioPath = QStringLiteral("/snd/Intro.Jingle.mp3");
        ButtonData c;
        c.id = QStringLiteral("C");
        s.tabs[0].buttons = {a, b, c};
        useSession(s);
        midi->addMapping(mapping(1, 10, QStringLiteral("A")));
        midi->addMapping(mapping(-1, 11, QStringLiteral("B")));
        midi->addMapping(mapping(2, 12, QStringLiteral("C")));
        midi->addMapping(mapping(3, 13, QStringLiteral("unknown")));
        midi->addMapping(mapping(4, 14, QStringLiteral("__main_volume__")));
        midi->addMapping(mapping(5, 15, QStringLiteral("__tab_vol_0__")));
        const int before = int(midi->allMappings().size());
        SettingsDialog d;
        QCOMPARE(rowTexts(d, "midiButtonRows"),
                 (QStringList{"\"<img src=/dev/zero>\"  —  Note 10 / Ch 1 | Remove",
                              "\"Intro.Jingle\"  —  Note 11 / Ch -1 | Remove", "\"C\"  —  Note 12 / Ch 2 | Remove"}));
        QWidget* rows = d.findChild<QWidget*>(QStringLiteral("midiButtonRows"));
        for (QLabel* l : rows->findChildren<QLabel*>())
            QCOMPARE(l->textFormat(), Qt::PlainText);

        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        rowButton(d, "midiButtonRows", 1, QStringLiteral("Remove"))->click();
        QCOMPARE(int(midi->allMappings().size()), before - 1);
        QCOMPARE(changed.size(), 1);
        QVERIFY(!SessionManager::instance()->isDirty());
        QCOMPARE(rowTexts(d, "midiButtonRows").size(), 2);
    }

    // ---- Advanced -------------------------------------------------------------

    void storedAdvancedValues_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("autosave");
        QTest::addColumn<bool>("showLog");
        QTest::addColumn<QString>("folder");
        const QString def = SettingsKeys::defaultDownloadFolder();
        // The choice shown is the interval the session saves at: with no
        // choice stored, every 2 minutes unless "session/autoSave" is off.
        QTest::newRow("nothing") << QByteArray() << "Every 2 minutes" << false << def;
        QTest::newRow("120") << QByteArray("[advanced]\nautosave=120\nshowLog=maybe\n") << "Every 2 minutes" << false
                             << def;
        QTest::newRow("abc, -5") << QByteArray("[advanced]\nautosave=abc\n[library]\ndownloadPath=\n")
                                 << "Every 2 minutes" << false << def;
        QTest::newRow("-5, relative") << QByteArray("[advanced]\nautosave=-5\n[library]\ndownloadPath=vx/lib\n")
                                      << "Every 2 minutes" << false << def;
        QTest::newRow("300, list") << QByteArray("[advanced]\nautosave=300\nshowLog=true\n[library]\ndownloadPath=/a, /b\n")
                                   << "Every 5 minutes" << true << def;
        QTest::newRow("set") << QByteArray("[library]\ndownloadPath=/srv/vx\n") << "Every 2 minutes" << false
                             << "/srv/vx";
        QTest::newRow("0") << QByteArray("[advanced]\nautosave=0\n") << "Disabled" << false << def;
        QTest::newRow("session auto-save off") << QByteArray("[session]\nautoSave=false\n") << "Disabled" << false
                                               << def;
        QTest::newRow("session auto-save off, 60 chosen")
            << QByteArray("[session]\nautoSave=false\n[advanced]\nautosave=60\n") << "Every 1 minute" << false << def;
    }

    void storedAdvancedValues()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, autosave);
        QFETCH(bool, showLog);
        QFETCH(QString, folder);
        QVERIFY(SettingsTest::writeStore(ini));
        SettingsDialog d;
        QCOMPARE(comboWithAutosave(d)->currentText(), autosave);
        QCheckBox* log = nullptr;
        for (QCheckBox* b : d.findChildren<QCheckBox*>())
            if (b->text() == QStringLiteral("Show Event Log panel"))
                log = b;
        QCOMPARE(log->isChecked(), showLog);
        QCOMPARE(downloadLabel(d)->text(), folder);
        QSettings raw(SettingsTest::storePath(), QSettings::IniFormat);
        QCOMPARE(raw.contains(QStringLiteral("advanced/autosave")), ini.contains("autosave"));
        QCOMPARE(raw.contains(QStringLiteral("library/downloadPath")), ini.contains("downloadPath"));
    }

    // Browse…, Reset and Open: a folder that cannot be created is named in a
    // warning and the stored folder stays.
    void downloadFolder()
    {
        const QString base = TestSupport::tempDir();
        QFile blocker(base + QStringLiteral("/file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(SettingsTest::writeStore("[library]\ndownloadPath=" + base.toUtf8() + "/old\n"));
        SettingsDialog d;
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        QPushButton* browse = buttonNamed(d, QStringLiteral("Browse…"));
        directoryAnswer = base + QStringLiteral("/file/below");
        browse->click();
        QCOMPARE(SettingsKeys::downloadFolder(), base + QStringLiteral("/old"));
        QVERIFY(boxes.value(0).contains(base + QStringLiteral("/file/below")));
        QCOMPARE(changed.size(), 0);

        directoryAnswer = base + QStringLiteral("/new/lib");
        browse->click();
        QCOMPARE(SettingsKeys::downloadFolder(), base + QStringLiteral("/new/lib"));
        QVERIFY(QFileInfo(base + QStringLiteral("/new/lib")).isDir());
        QCOMPARE(downloadLabel(d)->text(), base + QStringLiteral("/new/lib"));
        directoryAnswer.clear();
        browse->click();
        QCOMPARE(changed.size(), 1);

        buttonNamed(d, QStringLiteral("Open VX Library Folder"))->click();
        QCOMPARE(urls.urls, QList<QUrl>{QUrl::fromLocalFile(base + QStringLiteral("/new/lib"))});

        buttonNamed(d, QStringLiteral("Reset"))->click();
        QCOMPARE(SettingsKeys::readString(SettingsKeys::LibraryDownloadPath), SettingsKeys::defaultDownloadFolder());
        QCOMPARE(changed.size(), 2);
    }

    void sizeTexts_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "0 B";
        QTest::newRow("1023") << qint64(1023) << "1023 B";
        QTest::newRow("1024") << qint64(1024) << "1 KB";
        QTest::newRow("1536") << qint64(1536) << "1 KB";
        QTest::newRow("1048575") << qint64(1048575) << "1023 KB";
        QTest::newRow("1048576") << qint64(1048576) << "1 MB";
    }

    void sizeTexts()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(SettingsDialog::formatSize(bytes), text);
    }

    // The count: every file below the data folder and the settings file; a
    // missing data folder counts the settings file alone.
    void dataSize()
    {
        const QString root = TestSupport::tempDir();
        QDir().mkpath(root + QStringLiteral("/cache/a/b"));
        auto put = [](const QString& path, int n) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(n, 'x'));
        };
        put(root + QStringLiteral("/one"), 100);
        put(root + QStringLiteral("/cache/a/b/two"), 900);
        put(root + QStringLiteral("/cache/.hidden"), 24);
        const QString settings = TestSupport::tempDir() + QStringLiteral("/Rododu.conf");
        put(settings, 512);
        // Hidden entries are left out, as the folder walk's default filters do.
        QCOMPARE(SettingsDialog::dataSize(root, settings), qint64(100 + 900 + 512));
        QCOMPARE(SettingsDialog::dataSize(root + QStringLiteral("/missing"), settings), qint64(512));
    }

    // The dialog closes while the count runs: the late result is dropped.
    void closedWhileCounting()
    {
        for (int i = 0; i < 20; ++i)
            delete new SettingsDialog;
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }

    void noChangesNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("title");
        QTest::newRow("clear cache") << "Clear Audio Cache" << "Clear Cache";
        QTest::newRow("volumes") << "Reset All Button Volumes to 100%" << "Reset All Button Volumes";
        QTest::newRow("settings") << "⚠️  Reset All Settings to Default" << "Reset Settings";
    }

    void noChangesNothing()
    {
        QFETCH(QString, button);
        QFETCH(QString, title);
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir().mkpath(data + QStringLiteral("/cache"));
        Session s;
        s.tabs.resize(1);
        ButtonData b;
        b.id = QStringLiteral("x");
        b.audioPath = QStringLiteral("/a.wav");
        b.volume = 0.5;
        s.tabs[0].buttons << b;
        useSession(s);
        QVERIFY(SettingsTest::writeStore("[audio]\nbuffer=256\n"));
        SettingsDialog d;
        const QByteArray before = storeBytes();
        answers[title] = int(QMessageBox::No);
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        buttonNamed(d, button)->click();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(changed.size(), 0);
        QCOMPARE(storeBytes(), before);
        QVERIFY(QFileInfo(data + QStringLiteral("/cache")).isDir());
        QCOMPARE(SessionManager::instance()->session().tabs[0].buttons[0].volume, 0.5);
        QVERIFY(!SessionManager::instance()->isDirty());
    }

    void clearCache_data()
    {
        QTest::addColumn<bool>("tooDeep");
        QTest::newRow("removed") << false;
        QTest::newRow("a tree too deep to remove") << true;
    }

    void clearCache()
    {
        QFETCH(bool, tooDeep);
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir().mkpath(data + QStringLiteral("/cache/x"));
        QDir().mkpath(data + QStringLiteral("/pcm"));
        if (tooDeep)
            QVERIFY(makeDeepTree(data + QStringLiteral("/pcm")));
        SettingsDialog d;
        QLabel* label = labelWith(d, "cacheLabel");
        buttonNamed(d, QStringLiteral("Clear Audio Cache"))->click();
        QVERIFY(!QFileInfo::exists(data + QStringLiteral("/cache")));
        QCOMPARE(boxes.size(), 2);
        if (tooDeep) {
            QCOMPARE(boxes[1], QStringLiteral("Clear Cache: Some cached audio could not be removed:\n") + data
                                   + QStringLiteral("/pcm"));
            QVERIFY(removeDeepTree(data + QStringLiteral("/pcm")));
        } else {
            QCOMPARE(boxes[1], QStringLiteral("Cache Cleared: Audio cache cleared successfully."));
            QVERIFY(!QFileInfo::exists(data + QStringLiteral("/pcm")));
        }
        QVERIFY(label->text().contains(QStringLiteral("Calculating…")));
        QTRY_VERIFY(!label->text().contains(QStringLiteral("Calculating…")));
    }

    void volumeReset()
    {
        Session s;
        s.tabs.resize(2);
        auto button = [](const QString& id, const QString& path, double v) {
            ButtonData b;
            b.id = id;
            b.audioPath = path;
            b.volume = v;
            return b;
        };
        s.tabs[0].buttons = {button("a", "/a.wav", 0.4), button("b", "/b.wav", 1.0), button("c", QString(), 0.3)};
        s.tabs[1].buttons = {button("d", "/d.wav", std::nan("")), button("e", "/e.wav", 1.7)};
        useSession(s);
        WasapiEngine::instance()->cachePad(QStringLiteral("a"), QByteArray(800, '\0'), 0.4f, false);
        WasapiEngine::instance()->cachePad(QStringLiteral("b"), QByteArray(800, '\0'), 1.0f, false);
        SettingsDialog d;
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        buttonNamed(d, QStringLiteral("Reset All Button Volumes to 100%"))->click();
        const Session& now = SessionManager::instance()->session();
        QCOMPARE(now.tabs[0].buttons[0].volume, 1.0);
        QCOMPARE(now.tabs[0].buttons[2].volume, 0.3);
        QCOMPARE(now.tabs[1].buttons[0].volume, 1.0);
        QCOMPARE(boxes.value(1), QStringLiteral("Volumes Reset: 3 button volume(s) reset to 100%.\nSave your session "
                                                "to keep this change."));
        QVERIFY(!WasapiEngine::instance()->isReady(QStringLiteral("a")));
        QVERIFY(WasapiEngine::instance()->isReady(QStringLiteral("b")));
        QVERIFY(SessionManager::instance()->isDirty());
        QCOMPARE(changed.size(), 1);
        SessionManager::instance()->setDirty(false);
    }

    void resetAllSettings_data()
    {
        QTest::addColumn<int>("how");   // 0 fine, 1 folder in place of the file, 2 file-size limit
        QTest::newRow("reset") << 0;
        QTest::newRow("folder in place of the file") << 1;
        QTest::newRow("file-size limit") << 2;
    }

    void resetAllSettings()
    {
        QFETCH(int, how);
        QVERIFY(SettingsTest::writeStore("[appearance]\npreset=red\n[audio]\nbuffer=256\ndevice=usb\n[advanced]\n"
                                         "showLog=true\n[library]\ndownloadPath=/srv/vx\n"));
        auto d = std::make_unique<SettingsDialog>();
        d->show();
        const QByteArray before = storeBytes();
        QSignalSpy changed(d.get(), &SettingsDialog::settingsChanged);
        if (how == 1)
            QVERIFY(SettingsTest::blockStore());
        struct rlimit old {};
        if (how == 2) {
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &old);
            struct rlimit tiny = old;
            tiny.rlim_cur = 16;
            setrlimit(RLIMIT_FSIZE, &tiny);
        }
        buttonNamed(*d, QStringLiteral("⚠️  Reset All Settings to Default"))->click();
        if (how == 2)
            setrlimit(RLIMIT_FSIZE, &old);
        if (how == 1)
            SettingsTest::unblockStore();
        if (how == 0) {
            // The question lists what the reset does, and that holds after it.
            const QString question = boxes.value(0);
            QVERIFY(question.startsWith(QStringLiteral("Reset Settings: Reset ALL settings to factory defaults?")));
            for (const char* listed : {"• Theme → Dark", "• Audio → WASAPI Shared, default output, buffer 128, pre-load on",
                                       "• Button labels → automatic size", "• Auto-save → every 2 minutes",
                                       "• Event log → hidden", "Button shortcuts and volumes"})
                QVERIFY2(question.contains(QString::fromUtf8(listed)), listed);
            QVERIFY(!question.contains(QStringLiteral("85%")));
            QVERIFY(!question.contains(QStringLiteral("shortcuts cleared")));
            QCOMPARE(SettingsKeys::readString(SettingsKeys::AudioEngine), QStringLiteral("wasapi_shared"));
            QCOMPARE(SettingsKeys::readString(SettingsKeys::AudioDevice), QString());
            QCOMPARE(SettingsKeys::readInt(SettingsKeys::AudioBuffer), 128);
            QVERIFY(SettingsKeys::readBool(SettingsKeys::AudioPreload));
            QCOMPARE(SettingsKeys::readInt(SettingsKeys::AppearanceBtnFontSize), 0);
            QCOMPARE(SettingsKeys::autoSaveSeconds(), 120);
            QVERIFY(!SettingsKeys::readBool(SettingsKeys::AdvancedShowLog));
            AppSettings s;
            QCOMPARE(s.allKeys(), (QStringList{"appearance/preset", "appearance/theme"}));
            QCOMPARE(SettingsKeys::readString(SettingsKeys::AppearancePreset), QStringLiteral("dark"));
            QCOMPARE(boxes.value(1).section(':', 0, 0), QStringLiteral("Settings Reset"));
            QVERIFY(!d->isVisible());
            QCOMPARE(changed.size(), 1);
            return;
        }
        QCOMPARE(boxes.value(1), QStringLiteral("Settings Reset: Settings could not be reset: the settings file cannot "
                                                "be written."));
        QCOMPARE(changed.size(), 0);
        QVERIFY(d->isVisible());
        if (how == 2) {
            QCOMPARE(storeBytes(), before);
            AppSettings s;
            s.sync();
            QCOMPARE(storeBytes(), before);
            QCOMPARE(SettingsKeys::readInt(SettingsKeys::AudioBuffer), 256);
        }
    }

    // The library's own folder list lives in the same group: changing it
    // keeps the download folder.
    void downloadFolderSurvivesLibraryChanges()
    {
        QVERIFY(SettingsTest::writeStore("[library]\ndownloadPath=/srv/vx\n"));
        const QString folder = TestSupport::tempDir();
        LibraryManager::instance()->addFolder(folder, QStringLiteral("Jingles"));
        LibraryManager::instance()->removeFolder(QStringLiteral("Jingles"));
        QCOMPARE(SettingsKeys::downloadFolder(), QStringLiteral("/srv/vx"));
    }

    // ---- Shortcuts ----------------------------------------------------------

    void shortcutCard()
    {
        SettingsDialog d;
        QStringList caps;
        for (QLabel* cap : d.findChildren<QLabel*>(QStringLiteral("keyCap"))) {
            caps << cap->text();
            QVERIFY(cap->minimumWidth() >= 120);
            QCOMPARE(cap->minimumHeight(), 26);
            QCOMPARE(cap->maximumHeight(), 26);
            QCOMPARE(cap->alignment(), Qt::AlignCenter);
        }
        QCOMPARE(caps, (QStringList{"Space", "Escape", "Ctrl+N", "Ctrl+O", "Ctrl+S", "Ctrl+Shift+S", "Ctrl+,",
                                    "Ctrl+1 – 9", "Ctrl+T", "Button's key", "Tools → Settings"}));
    }

private:
    QComboBox* comboWithAutosave(SettingsDialog& d)
    {
        for (QComboBox* c : d.findChildren<QComboBox*>())
            if (c->findText(QStringLiteral("Every 15 minutes")) >= 0)
                return c;
        return nullptr;
    }
    QLabel* downloadLabel(SettingsDialog& d) { return labelWith(d, "downloadPathLabel"); }
    QPushButton* buttonNamed(SettingsDialog& d, const QString& text)
    {
        for (QPushButton* b : d.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }

    // A chain of folders longer than the longest path the system takes, made
    // and removed one level at a time through folder descriptors.
    static constexpr int kDepth = 260;
    static bool makeDeepTree(const QString& top)
    {
        int fd = ::open(QFile::encodeName(top).constData(), O_RDONLY | O_DIRECTORY);
        for (int i = 0; fd >= 0 && i < kDepth; ++i) {
            if (::mkdirat(fd, "deep_folder_name", 0755) != 0)
                return false;
            const int next = ::openat(fd, "deep_folder_name", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }
    static bool removeDeepTree(const QString& top)
    {
        for (int depth = kDepth; depth > 0; --depth) {
            int fd = ::open(QFile::encodeName(top).constData(), O_RDONLY | O_DIRECTORY);
            for (int i = 0; fd >= 0 && i < depth - 1; ++i) {
                const int next = ::openat(fd, "deep_folder_name", O_RDONLY | O_DIRECTORY);
                ::close(fd);
                fd = next;
            }
            if (fd < 0 || ::unlinkat(fd, "deep_folder_name", AT_REMOVEDIR) != 0)
                return false;
            ::close(fd);
        }
        return QDir(top).removeRecursively();
    }
};

QTEST_MAIN(TestSettingsPages)
#include "tst_settings_pages.moc"
