// MIDI control of the main window: pads play and stop tabs, knobs move the
// master and tab volumes, learned bindings reach the session and the
// headers, conflicts are answered in the window, badges follow the table.
#include <QAction>
#include <QJsonDocument>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QtTest>

#include "FakeMidiBackend.h"
#include "SafeWrite.h"
#include "RoutingSupport.h"
#include "ToastCapture.h"

using A = RoutingTestAccess;
using namespace RoutingTest;

namespace {

using TestSupport::takeToasts;

quint32 noteOn(int note, int velocity = 100, int channel = 1)
{
    return MidiShortMessage::pack(0x90 | (channel - 1), note, velocity);
}

quint32 cc(int number, int value, int channel = 1)
{
    return MidiShortMessage::pack(0xB0 | (channel - 1), number, value);
}

MidiMapping mapping(int number, bool isCC, const QString& buttonId, const QString& control = QString())
{
    MidiMapping m;
    m.channel = 1;
    m.number = number;
    m.isCC = isCC;
    m.buttonId = buttonId;
    m.control = control;
    return m;
}

// Tab 1 holds P, S, Q, a button N without a name and E without a sound;
// tab 2 holds O and M, empty buttons up to the 24 a tab shows, then H, a
// record no pad shows.
Session session()
{
    Session s = twoTabs();
    ButtonData n = button(QStringLiteral("N"), QStringLiteral("/x/big drum.hit.wav"));
    n.name.clear();
    ButtonData e = button(QStringLiteral("E"), QString());
    s.tabs[0].buttons << n << e;
    QList<ButtonData>& second = s.tabs[1].buttons;
    while (second.size() < s.buttonsPerTab) {
        ButtonData empty;
        empty.id = QStringLiteral("pad-%1").arg(second.size());
        second << empty;
    }
    second << button(QStringLiteral("H"), QStringLiteral("/x/hidden.wav"));
    return s;
}

} // namespace

class TestMainWindowMidi : public QObject
{
    Q_OBJECT
    FakeMidiBackend fake;
    MidiManager* midi = nullptr;
    MainWindow* w = nullptr;
    RecordingEngines rec;
    QList<Modal::Request> asked;
    QVariant answer;
    QString menuChoice; // the entry a menu answers with, by its text

    // The message travels as from the input thread: queued to the manager,
    // whose signals are queued to the window.
    void play(quint32 msg)
    {
        QVERIFY(fake.play(0, msg));
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
    SoundButton* widgetOf(const QString& id) { return widget(w, id); }
    GridHeader* header(int pane) { return A::panels(w)[pane].header; }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        fake.addInput(QStringLiteral("Pads"));
        MidiManager::setInstanceBackend(&fake);
        midi = MidiManager::instance();
        QVERIFY(midi->openInput(QStringLiteral("Pads")));
        Modal::setHandler([this](const Modal::Request& r) {
            asked << r;
            if (r.kind == Modal::Kind::Menu) {
                for (QAction* a : r.menu->actions())
                    if (a->text() == menuChoice)
                        return QVariant::fromValue(a);
                return QVariant();
            }
            return answer;
        });
        w = windowOn(rec);
        rec.dsUp = false;
    }
    void cleanupTestCase()
    {
        Modal::setHandler(nullptr);
        closeWindow(w);
    }
    void init()
    {
        load(session());
        midi->clearAllMappings();
        midi->stopLearn();
        QCoreApplication::processEvents();
        showAllIdle(w);
        rec.reset();
        asked.clear();
        answer = QVariant();
        menuChoice.clear();
        SessionManager::instance()->setDirty(false);
        takeToasts();
    }

    // Whatever a pad's binding names, it plays a button under the press
    // rules or stops a session tab; anything else does nothing.
    void triggers_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("calls"); // engine calls that must be there; empty: no call at all
        const QStringList tab0Stop{"audio.cancelFade P", "audio.stop P", "wasapi.stop P", "ds.stop P",
                                   "audio.stop Q", "ds.stop E"};
        QTest::newRow("button") << "P" << QStringList{"audio.playRapid P 1 "};
        QTest::newRow("button of tab 2") << "O" << QStringList{"audio.playRapid O 1 "};
        QTest::newRow("tab 0 stop") << "__tab_stop_0__" << tab0Stop;
        QTest::newRow("tab 1 stop") << "__tab_stop_1__" << QStringList{"audio.stop O", "ds.stop M"};
        QTest::newRow("tab 3 of two") << "__tab_stop_3__" << QStringList();
        QTest::newRow("letters") << "__tab_stop_x__" << QStringList();
        QTest::newRow("negative") << "__tab_stop_-1__" << QStringList();
        QTest::newRow("past int") << "__tab_stop_99999999999__" << QStringList();
        QTest::newRow("no number") << "__tab_stop___" << QStringList();
        QTest::newRow("leading zero") << "__tab_stop_01__" << QStringList();
        QTest::newRow("sign") << "__tab_stop_+1__" << QStringList();
        QTest::newRow("blank") << "__tab_stop_ 1__" << QStringList();
        QTest::newRow("upper case") << "__TAB_STOP_1__" << QStringList();
        QTest::newRow("tab volume without end") << "__tab_vol_3" << QStringList();
        QTest::newRow("tab volume as trigger") << "__tab_vol_0__" << QStringList();
        QTest::newRow("master volume as trigger") << "__main_volume__" << QStringList();
        QTest::newRow("button without sound") << "E" << QStringList();
        QTest::newRow("unknown button") << "gone" << QStringList();
        QTest::newRow("record no pad shows") << "H" << QStringList();
    }
    void triggers()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, calls);
        midi->addMapping(mapping(60, false, target));
        QCoreApplication::processEvents();
        rec.reset();
        play(noteOn(60));
        const QStringList got = rec.take();
        if (calls.isEmpty()) {
            QCOMPARE(got, QStringList());
        } else {
            for (const QString& c : calls)
                QVERIFY2(std::any_of(got.begin(), got.end(), [&](const QString& g) { return g.startsWith(c); }),
                         qPrintable(c + QStringLiteral(" not in ") + got.join(QLatin1String(", "))));
        }
        // A button without a sound does not open the assign dialog as a press would.
        QVERIFY(asked.isEmpty());
        // A note-off or a note-on at velocity 0 fires nothing.
        play(MidiShortMessage::pack(0x80, 60, 0));
        play(noteOn(60, 0));
        QCOMPARE(rec.take(), QStringList());
    }

    // A tab stop shows every pane of that session tab idle, also a pane that
    // its chooser moved onto the tab, and leaves the others alone.
    void tabStopDisplay()
    {
        emit header(1)->tabSwitchRequested(0); // both panes show tab 0
        midi->addMapping(mapping(61, false, QStringLiteral("__tab_stop_0__")));
        midi->addMapping(mapping(62, false, QStringLiteral("__tab_stop_1__")));
        QCoreApplication::processEvents();
        for (int p = 0; p < 2; ++p) {
            A::panels(w)[p].grid->buttonWidget(0)->setPlaying(true);
            header(p)->setPlaying(true);
        }
        play(noteOn(62)); // no pane shows tab 1
        QVERIFY(headerLit(w, 0) && headerLit(w, 1));
        QVERIFY(rec.take().contains(QStringLiteral("ds.stop O")));
        play(noteOn(61));
        for (int p = 0; p < 2; ++p) {
            QVERIFY(!A::panels(w)[p].grid->buttonWidget(0)->isPlaying());
            QVERIFY(!headerLit(w, p));
        }
    }

    // A stale entry of the button-to-tab cache sends the pad to the tab
    // that really holds the button.
    void staleTabCache()
    {
        midi->addMapping(mapping(63, false, QStringLiteral("O")));
        QCoreApplication::processEvents();
        A::tabIndexCache(w)[QStringLiteral("O")] = 0;
        rec.reset();
        play(noteOn(63));
        QVERIFY(rec.take().join(QLatin1Char('|')).contains(QLatin1String("audio.playRapid O")));
    }

    void volumes_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("expected"); // master: slider percent; tab: volume percent; -1: nothing
        // Master and tab alike: the controller's travel spans silent to full.
        for (int v : {0, 63, 64, 100, 126, 127}) {
            const int master = int(std::lround(v * 100.0 / 127.0));
            const int tab = master;
            QTest::addRow("master %d", v) << "__main_volume__" << v << master;
            QTest::addRow("tab 0 at %d", v) << "__tab_vol_0__" << v << tab;
            QTest::addRow("tab 1 at %d", v) << "__tab_vol_1__" << v << tab;
            QTest::addRow("tab 3 of two at %d", v) << "__tab_vol_3__" << v << -1;
        }
        QTest::newRow("bad tab target") << "__tab_vol_x__" << 100 << -1;
        QTest::newRow("stop target as control") << "__tab_stop_0__" << 100 << -1;
    }
    void volumes()
    {
        QFETCH(QString, target);
        QFETCH(int, value);
        QFETCH(int, expected);
        // Start away from every expected value so a change always shows.
        {
            const QSignalBlocker block(A::volSlider(w));
            A::volSlider(w)->setValue(33);
        }
        for (int p = 0; p < 2; ++p) {
            const QSignalBlocker block(header(p));
            header(p)->m_volSlider->setValue(33);
        }
        Session& s = SessionManager::instance()->session();
        s.tabs[0].volume = 0.33;
        s.tabs[1].volume = 0.33;
        s.globalVolume = 0.33;
        QSignalSpy echo0(header(0), &GridHeader::volumeChanged);
        QSignalSpy echo1(header(1), &GridHeader::volumeChanged);
        midi->addMapping(mapping(7, true, QString(), target));
        QCoreApplication::processEvents();
        rec.reset();
        rec.tabVol.clear();
        play(cc(7, value));

        if (target == QLatin1String("__main_volume__")) {
            QCOMPARE(A::volSlider(w)->value(), expected);
            QCOMPARE(s.globalVolume, expected / 100.0);
            QVERIFY(rec.take().contains(QStringLiteral("audio.globalVolume %1").arg(expected / 100.0)));
        } else if (expected < 0) {
            QCOMPARE(A::volSlider(w)->value(), 33);
            QCOMPARE(s.tabs[0].volume, 0.33);
            QCOMPARE(s.tabs[1].volume, 0.33);
            QCOMPARE(header(0)->m_volSlider->value(), 33);
            QCOMPARE(header(1)->m_volSlider->value(), 33);
            QVERIFY(rec.tabVol.isEmpty());
        } else {
            const int tab = target == QLatin1String("__tab_vol_0__") ? 0 : 1;
            // Stored at most full, as a load would take it.
            QCOMPARE(s.tabs[tab].volume, qMin(expected, 100) / 100.0);
            QCOMPARE(s.tabs[1 - tab].volume, 0.33);
            QCOMPARE(header(tab)->m_volSlider->value(), qMin(expected, 100));
            QCOMPARE(header(1 - tab)->m_volSlider->value(), 33);
            QCOMPARE(rec.tabVol.value(tab, -1.0), qMin(expected / 100.0, 1.0));
            QCOMPARE(A::volSlider(w)->value(), 33);
        }
        // Set with the header's signals blocked: no second volume change.
        QCOMPARE(echo0.count(), 0);
        QCOMPARE(echo1.count(), 0);
    }

    // With a pane moved onto tab 0 by its chooser, the tab's knob moves both
    // panes' sliders; tab 1, shown by no pane, still gets its volume, and so
    // does its pre-decoded sound that plays.
    void volumeOfRetargetedPanes()
    {
        emit header(1)->tabSwitchRequested(0); // both panes show tab 0
        midi->addMapping(mapping(7, true, QString(), QStringLiteral("__tab_vol_0__")));
        midi->addMapping(mapping(8, true, QString(), QStringLiteral("__tab_vol_1__")));
        QCoreApplication::processEvents();
        rec.reset();
        rec.tabVol.clear();
        play(cc(7, 64));
        QCOMPARE(header(0)->m_volSlider->value(), 50);
        QCOMPARE(header(1)->m_volSlider->value(), 50);
        rec.dsVoices << QStringLiteral("O");
        rec.take();
        play(cc(8, 127));
        QVERIFY(rec.take().contains(QStringLiteral("ds.soundVolume O 1")));
        rec.dsVoices.clear();
        Session& s = SessionManager::instance()->session();
        QCOMPARE(s.tabs[1].volume, 1.0);   // stored at most full, as a load takes it
        QCOMPARE(rec.tabVol.value(1), 1.0);
        QCOMPARE(header(0)->m_volSlider->value(), 50);
        QCOMPARE(header(1)->m_volSlider->value(), 50);
        QVERIFY(SessionManager::instance()->isDirty());
    }

    // Note (or controller) 60 is held by `existing`; learning `learn` takes
    // it on Yes. A tab that gives way loses its claim in the session and in
    // its header too.
    void conflicts_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("learn");
        QTest::addColumn<QString>("existingName");
        QTest::addColumn<QString>("learnName");
        QTest::addColumn<QVariant>("reply");
        QTest::addColumn<bool>("replaced");
        const QVariant yes(int(QMessageBox::Yes));
        const QVariant no(int(QMessageBox::No));
        QTest::newRow("yes") << "P" << "S" << "Sound P" << "Sound S" << yes << true;
        QTest::newRow("no") << "P" << "S" << "Sound P" << "Sound S" << no << false;
        QTest::newRow("box closed") << "P" << "S" << "Sound P" << "Sound S" << QVariant(int(QMessageBox::Escape))
                                    << false;
        QTest::newRow("no answer") << "P" << "S" << "Sound P" << "Sound S" << QVariant() << false;
        QTest::newRow("yes, a tab's stop") << "__tab_stop_1__" << "S" << "a tab's Stop button" << "Sound S" << yes
                                           << true;
        QTest::newRow("no, a tab's stop") << "__tab_stop_1__" << "S" << "a tab's Stop button" << "Sound S" << no
                                          << false;
        QTest::newRow("yes, a tab's stop to another tab")
            << "__tab_stop_1__" << "__tab_stop_0__" << "a tab's Stop button" << "a tab's Stop button" << yes << true;
        QTest::newRow("yes, a tab's volume") << "__tab_vol_1__" << "__main_volume__" << "a tab's Volume control"
                                             << "the main Volume control" << yes << true;
    }
    void conflicts()
    {
        QFETCH(QString, existing);
        QFETCH(QString, learn);
        QFETCH(QString, existingName);
        QFETCH(QString, learnName);
        QFETCH(QVariant, reply);
        QFETCH(bool, replaced);
        const bool isCC = MidiManager::isVolumeTarget(learn);
        const bool held = existing.startsWith(QLatin1String("__tab_"));
        auto bound = [this](const QString& key) {
            const QList<MidiMapping> all = midi->allMappings();
            return std::any_of(all.begin(), all.end(), [&](const MidiMapping& m) { return m.key() == key; });
        };
        midi->addMapping(isCC ? mapping(60, true, QString(), existing) : mapping(60, false, existing));
        Session& s = SessionManager::instance()->session();
        if (held) {
            // The tab's own record of its binding, as a learn leaves it.
            (isCC ? s.tabs[1].volCC : s.tabs[1].stopMidi) = 60;
            (isCC ? header(1)->m_volCC : header(1)->m_stopMidiNote) = 60;
        }
        midi->startLearn(learn);
        answer = reply;
        play(isCC ? cc(60, 10) : noteOn(60));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].title, QStringLiteral("MIDI Already Assigned"));
        QCOMPARE(asked[0].text,
                 QStringLiteral("Note 60 / Ch 1 is already assigned to \"%1\".\n\n"
                                "Do you want to remove that assignment and assign it to \"%2\" instead?")
                     .arg(existingName, learnName));
        QVERIFY(!midi->isConflictPending());
        QCOMPARE(bound(learn), replaced);
        QCOMPARE(bound(existing), !replaced);
        QCOMPARE(midi->allMappings().size(), 1);
        const QString learnedToast = learn == QLatin1String("S") ? QStringLiteral("🎹  \"Sound S\" → Note 60 / Ch 1")
                                                                 : QStringLiteral("🎹  MIDI assigned: Note 60 / Ch 1");
        QCOMPARE(takeToasts(), replaced ? QStringList{learnedToast}
                                        : QStringList{QStringLiteral("Kept existing assignment on \"%1\"")
                                                          .arg(existingName)});
        // The badges follow the table.
        QCOMPARE(widgetOf(QStringLiteral("S"))->hasMidi(), replaced && learn == QLatin1String("S"));
        QCOMPARE(widgetOf(QStringLiteral("P"))->hasMidi(), !replaced && existing == QLatin1String("P"));
        if (held) {
            const int kept = replaced ? -1 : 60;
            QCOMPARE(isCC ? s.tabs[1].volCC : s.tabs[1].stopMidi, kept);
            QCOMPARE(isCC ? header(1)->m_volCC : header(1)->m_stopMidiNote, kept);
            QCOMPARE(SessionManager::instance()->isDirty(), replaced);
        }
        // A tab that took the note holds it.
        if (replaced && learn == QLatin1String("__tab_stop_0__")) {
            QCOMPARE(s.tabs[0].stopMidi, 60);
            QCOMPARE(header(0)->m_stopMidiNote, 60);
        }
    }

    void learned_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<quint32>("message");
        QTest::addColumn<QString>("toast");
        QTest::addColumn<bool>("dirty");
        // From a session file: "repeat" is Q in a file in which Q repeats
        // P's id, "no id" is Q kept without an id, "pad" is pad 10 of tab 1,
        // past the file's buttons. The load gives each an id; the note binds
        // it again after a restart (another session, the table read back
        // from the settings, the same file loaded again), the file unsaved.
        QTest::newRow("button") << "P" << noteOn(70, 90, 3) << "🎹  \"Sound P\" → Note 70 / Ch 3" << false;
        QTest::newRow("button with a renewed id, file loaded again")
            << "repeat" << noteOn(76) << "🎹  \"Sound Q\" → Note 76 / Ch 1" << false;
        QTest::newRow("button without id, file loaded again")
            << "no id" << noteOn(77) << "🎹  \"Sound Q\" → Note 77 / Ch 1" << false;
        QTest::newRow("empty pad, file loaded again") << "pad" << noteOn(78, 9, 2) << "🎹  MIDI assigned: Note 78 / Ch 2"
                                                     << false;
        QTest::newRow("button without name") << "N" << noteOn(71) << "🎹  \"big drum.hit\" → Note 71 / Ch 1" << false;
        QTest::newRow("deleted button") << "gone" << noteOn(72) << "🎹  MIDI assigned: Note 72 / Ch 1" << false;
        QTest::newRow("tab 0 stop") << "__tab_stop_0__" << noteOn(73) << "🎹  MIDI assigned: Note 73 / Ch 1" << true;
        QTest::newRow("tab 1 stop") << "__tab_stop_1__" << noteOn(74, 1, 16) << "🎹  MIDI assigned: Note 74 / Ch 16"
                                    << true;
        QTest::newRow("tab 3 stop of two") << "__tab_stop_3__" << noteOn(75) << "🎹  MIDI assigned: Note 75 / Ch 1"
                                           << false;
        QTest::newRow("tab 1 volume") << "__tab_vol_1__" << cc(21, 5) << "🎹  MIDI assigned: Note 21 / Ch 1" << true;
        QTest::newRow("master volume") << "__main_volume__" << cc(22, 0) << "🎹  MIDI assigned: Note 22 / Ch 1"
                                       << false;
    }
    void learned()
    {
        QFETCH(QString, target);
        QFETCH(quint32, message);
        QFETCH(QString, toast);
        QFETCH(bool, dirty);
        QString file;
        QByteArray fileText;
        const int place = target == QLatin1String("pad") ? 10 : 2;
        if (target == QLatin1String("repeat") || target == QLatin1String("no id") || target == QLatin1String("pad")) {
            Session onDisk = session();
            if (target == QLatin1String("repeat"))
                onDisk.tabs[0].buttons[2].id = QStringLiteral("P");
            else if (target == QLatin1String("no id"))
                onDisk.tabs[0].buttons[2].id.clear();
            QVERIFY(target != QLatin1String("pad") || onDisk.tabs[0].buttons.size() <= place);
            file = TestSupport::tempDir() + QStringLiteral("/learned.vx");
            fileText = QJsonDocument(onDisk.toJson()).toJson();
            QVERIFY(safeWriteFile(file, fileText));
            SessionManager::instance()->markDirty();
            QVERIFY(SessionManager::instance()->loadSession(file));
            QCoreApplication::processEvents();
            QVERIFY(!SessionManager::instance()->isDirty());
            target = SessionManager::instance()->session().tabs[0].buttons[place].id;
            QVERIFY(!target.isEmpty() && target != QLatin1String("P"));
            QVERIFY(widgetOf(target));
        }
        const Session before = SessionManager::instance()->session();
        midi->startLearn(target);
        play(message);
        QVERIFY(!midi->isLearning());
        QCOMPARE(takeToasts(), QStringList{toast});
        QCOMPARE(SessionManager::instance()->isDirty(), dirty);

        const Session& s = SessionManager::instance()->session();
        const int number = int((message >> 8) & 0x7F);
        for (int t = 0; t < 2; ++t) {
            const bool stop = target == QStringLiteral("__tab_stop_%1__").arg(t);
            const bool vol = target == QStringLiteral("__tab_vol_%1__").arg(t);
            QCOMPARE(s.tabs[t].stopMidi, stop ? number : before.tabs[t].stopMidi);
            QCOMPARE(s.tabs[t].volCC, vol ? number : before.tabs[t].volCC);
            QCOMPARE(header(t)->m_stopMidiNote, stop ? number : -1);
            QCOMPARE(header(t)->m_volCC, vol ? number : -1);
            QCOMPARE(s.tabs[t].buttons.size(), before.tabs[t].buttons.size());
        }
        if (!dirty)
            QCOMPARE(QJsonDocument(s.toJson()), QJsonDocument(before.toJson()));
        if (!file.isEmpty()) {
            // Another session, the table read back from the settings, then
            // the same file again: as at the next start.
            load(session());
            midi->reloadConfig();
            QVERIFY(SessionManager::instance()->loadSession(file));
            QCoreApplication::processEvents();
            QCOMPARE(SessionManager::instance()->session().tabs[0].buttons[place].id, target);
            QVERIFY(!SessionManager::instance()->isDirty());
            QCOMPARE(TestSupport::readFile(file), fileText);
            QVERIFY(widgetOf(target)->hasMidi());
            // An empty pad that gets a sound keeps its id, and its note.
            if (place == 10)
                emit widgetOf(target)->dropped(target, QStringLiteral("/x/late.wav"));
            rec.reset();
            play(message);
            QVERIFY2(rec.take().join(QLatin1Char('|')).contains(QStringLiteral("audio.playRapid ") + target),
                     qPrintable(target));
        }

        // The header's clear entry ends the binding itself: the note or the
        // knob then does nothing, and the tab and header hold nothing.
        for (int t = 0; t < 2; ++t) {
            const bool stop = target == QStringLiteral("__tab_stop_%1__").arg(t);
            const bool vol = target == QStringLiteral("__tab_vol_%1__").arg(t);
            if (!stop && !vol)
                continue;
            SessionManager::instance()->setDirty(false);
            menuChoice = stop ? QStringLiteral("Clear MIDI  [note %1]").arg(number)
                              : QStringLiteral("Clear MIDI CC  [CC %1]").arg(number);
            QWidget* owner = stop ? static_cast<QWidget*>(header(t)->stopButton()) : header(t)->m_volSlider;
            emit owner->customContextMenuRequested(QPoint(2, 2));
            QVERIFY(midi->allMappings().isEmpty());
            QCOMPARE(stop ? s.tabs[t].stopMidi : s.tabs[t].volCC, -1);
            QCOMPARE(stop ? header(t)->m_stopMidiNote : header(t)->m_volCC, -1);
            QVERIFY(SessionManager::instance()->isDirty());
            rec.reset();
            rec.tabVol.clear();
            play(message);
            QCOMPARE(rec.take(), QStringList());
            QVERIFY(rec.tabVol.isEmpty());
        }
    }

    // A learned stop note reaches every pane that shows the tab.
    void learnedStopOnRetargetedPanes()
    {
        emit header(1)->tabSwitchRequested(0); // both panes show tab 0
        midi->startLearn(QStringLiteral("__tab_stop_0__"));
        play(noteOn(80));
        QCOMPARE(header(0)->m_stopMidiNote, 80);
        QCOMPARE(header(1)->m_stopMidiNote, 80);
        QCOMPARE(SessionManager::instance()->session().tabs[1].stopMidi, -1);
    }

    void describe_data()
    {
        QTest::addColumn<QString>("buttonId");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << "" << "" << "(unassigned)";
        QTest::newRow("button") << "P" << "" << "Sound P";
        QTest::newRow("button without name") << "N" << "" << "big drum.hit";
        QTest::newRow("unknown button") << "zzz" << "" << "zzz";
        QTest::newRow("tab stop") << "__tab_stop_1__" << "" << "a tab's Stop button";
        QTest::newRow("tab stop, bad number") << "__tab_stop_x__" << "" << "a tab's Stop button";
        QTest::newRow("tab volume") << "" << "__tab_vol_0__" << "a tab's Volume control";
        QTest::newRow("master") << "" << "__main_volume__" << "the main Volume control";
        QTest::newRow("other reserved") << "__other__" << "" << "__other__";
        QTest::newRow("button wins over control") << "P" << "__main_volume__" << "Sound P";
    }
    void describe()
    {
        QFETCH(QString, buttonId);
        QFETCH(QString, control);
        QFETCH(QString, text);
        QCOMPARE(w->describeMidiTarget(mapping(1, false, buttonId, control)), text);
    }

    // Badges follow the table; only buttons whose badge changes are touched.
    void badges()
    {
        midi->addMapping(mapping(60, false, QStringLiteral("P")));
        midi->addMapping(mapping(61, true, QString(), QStringLiteral("__main_volume__")));
        QCoreApplication::processEvents();
        QVERIFY(widgetOf(QStringLiteral("P"))->hasMidi());
        QVERIFY(!widgetOf(QStringLiteral("S"))->hasMidi());
        // A flag set by hand on a button without a binding is put right,
        // one with a binding keeps it.
        widgetOf(QStringLiteral("O"))->setHasMidi(true);
        midi->removeMapping(QStringLiteral("none"));
        QCoreApplication::processEvents();
        QVERIFY(!widgetOf(QStringLiteral("O"))->hasMidi());
        QVERIFY(widgetOf(QStringLiteral("P"))->hasMidi());
        midi->removeMapping(QStringLiteral("P"));
        QCoreApplication::processEvents();
        QVERIFY(!widgetOf(QStringLiteral("P"))->hasMidi());
    }
};

QTEST_MAIN(TestMainWindowMidi)
#include "tst_mainwindow_midi.moc"
