#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <thread>

#include "AppSettings.h"
#include "FakeMidiBackend.h"
#include "MidiManager.h"
#include "OpLog.h"

namespace {

MidiMapping mapping(int ch, int number, bool isCC, const QString& btn, const QString& ctrl = QString())
{
    MidiMapping m;
    m.channel = ch;
    m.number = number;
    m.isCC = isCC;
    m.buttonId = btn;
    m.control = ctrl;
    return m;
}

// One manager on a fake system with a single opened input "Pad".
struct Rig
{
    FakeMidiBackend fake;
    std::unique_ptr<MidiManager> mm;

    Rig()
    {
        fake.addInput(QStringLiteral("Pad"));
        mm = std::make_unique<MidiManager>(&fake);
        mm->openInput(QStringLiteral("Pad"));
    }
    // Plays one message in through the input callback and lets the queued call run.
    void send(int status, int d1, int d2)
    {
        QVERIFY(fake.play(0, MidiShortMessage::pack(status, d1, d2)));
        QCoreApplication::sendPostedEvents(mm.get());
    }
    void noteOn(int ch, int note, int vel) { send(0x90 | (ch - 1), note, vel); }
    void noteOff(int ch, int note) { send(0x80 | (ch - 1), note, 64); }
    void cc(int ch, int num, int val) { send(0xB0 | (ch - 1), num, val); }
};

QList<QVariantList> take(QSignalSpy& spy)
{
    QList<QVariantList> out;
    while (!spy.isEmpty())
        out << spy.takeFirst();
    return out;
}

} // namespace

class TstMidiManager : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        AppSettings s;
        s.remove(QStringLiteral("midi"));
    }

    // Every status byte on every channel, through the input callback.
    void decodesEveryStatusOnEveryChannel()
    {
        Rig r;
        QSignalSpy notes(r.mm.get(), &MidiManager::noteReceived);
        QSignalSpy ccs(r.mm.get(), &MidiManager::ccReceived);
        for (int status = 0x80; status <= 0xF0; status += 0x10) {
            for (int ch = 0; ch < 16; ++ch) {
                r.send(status | ch, 60 + ch, 100 - ch);
                if (status == 0x90) {
                    QCOMPARE(take(notes), (QList<QVariantList>{{ch + 1, 60 + ch, 100 - ch}}));
                } else if (status == 0x80) {
                    // A note-off always reports value 0, whatever its release velocity.
                    QCOMPARE(take(notes), (QList<QVariantList>{{ch + 1, 60 + ch, 0}}));
                } else if (status == 0xB0) {
                    QCOMPARE(take(ccs), (QList<QVariantList>{{ch + 1, 60 + ch, 100 - ch}}));
                } else {
                    QVERIFY2(notes.isEmpty() && ccs.isEmpty(), qPrintable(QString::number(status | ch, 16)));
                }
            }
        }
        // Real-time and system bytes, and a lone data byte, are dropped too.
        for (int status : {0xF8, 0xFE, 0xFF, 0x45})
            r.send(status, 1, 2);
        QVERIFY(notes.isEmpty() && ccs.isEmpty());
        // Note-on with velocity 0 stays a note with value 0.
        r.noteOn(10, 36, 0);
        QCOMPARE(take(notes), (QList<QVariantList>{{10, 36, 0}}));
    }

    // The callback posts and touches nothing; the message arrives on the manager's thread.
    void callbackFromAnotherThreadIsQueued()
    {
        Rig r;
        QSignalSpy notes(r.mm.get(), &MidiManager::noteReceived);
        QThread* seenOn = nullptr;
        connect(r.mm.get(), &MidiManager::noteReceived, r.mm.get(), [&] { seenOn = QThread::currentThread(); });
        std::thread t([&] { r.fake.play(0, MidiShortMessage::pack(0x93, 40, 90)); });
        t.join();
        QVERIFY(notes.isEmpty());
        QTRY_COMPARE(notes.size(), 1);
        QCOMPARE(notes.at(0), (QVariantList{4, 40, 90}));
        QCOMPARE(seenOn, QThread::currentThread());
        // A callback without instance data is ignored.
        r.fake.inputs[0].callback(nullptr, MidiShortMessage::pack(0x90, 1, 1));
        QCoreApplication::processEvents();
        QCOMPARE(notes.size(), 1);
    }

    void opensEveryInputWhenTheStartTimerFires()
    {
        FakeMidiBackend fake;
        fake.addInput("Keys");
        fake.addInput("Broken", /*capsFail*/ true);
        fake.addInput("Keys");
        fake.addInput("Pads", false, /*openFails*/ true);
        fake.addInput("Pads");
        fake.outputs = QStringList{"Synth", "Synth"};
        {
            MidiManager mm(&fake);
            QSignalSpy changed(&mm, &MidiManager::devicesChanged);
            QVERIFY(fake.calls.isEmpty());
            QCOMPARE(mm.inputDevices(), (QStringList{"Keys", "Keys", "Pads", "Pads"}));
            QCOMPARE(mm.outputDevices(), (QStringList{"Synth", "Synth"}));
            QVERIFY(!mm.connected());

            QTRY_COMPARE(changed.size(), 3);
            QVERIFY(fake.inputs[0].started && fake.inputs[2].started && fake.inputs[4].started);
            QVERIFY(!fake.inputs[1].isOpen && !fake.inputs[3].isOpen);
            QVERIFY(!fake.calls.contains("open 1")); // no capabilities: never tried
            QVERIFY(mm.connected());
            QCOMPARE(mm.currentDevice(), QString("Pads"));

            // Everything of that name is open already: false, and no signal.
            changed.clear();
            QVERIFY(!mm.openInput("Keys"));
            QVERIFY(!mm.openInput("keys"));
            QVERIFY(!mm.openInput("Nothing"));
            QVERIFY(changed.isEmpty());
            QCOMPARE(mm.currentDevice(), QString("Pads"));

            fake.calls.clear();
        }
        // The manager's end stops and closes each input it opened.
        QCOMPARE(fake.calls, (QStringList{"stop 0", "close 0", "stop 2", "close 2", "stop 4", "close 4"}));
    }

    void noSequencerMeansNoDevicesAndOneLogLine()
    {
        FakeMidiBackend fake;
        fake.up = false;
        fake.addInput("Ghost");
        MidiManager mm(&fake);
        QSignalSpy changed(&mm, &MidiManager::devicesChanged);
        QSignalSpy mappings(&mm, &MidiManager::mappingChanged);
        const int logged = OpLog::totalWritten();
        QTRY_VERIFY(OpLog::totalWritten() > logged);
        QTest::qWait(50);
        QCOMPARE(OpLog::totalWritten(), logged + 1);
        QVERIFY(OpLog::entriesNewestFirst().first().contains("no sequencer here"));
        QVERIFY(mm.inputDevices().isEmpty());
        QVERIFY(!mm.openInput("Ghost"));
        QVERIFY(fake.calls.isEmpty());
        QVERIFY(changed.isEmpty() && mappings.isEmpty());
        QVERIFY(!mm.connected());
        // The table still works.
        mm.addMapping(mapping(1, 60, false, "b1"));
        QCOMPARE(mm.mappingForButton("b1").number, 60);
    }

    void dispatchFiresEveryMatchInTableOrder()
    {
        Rig r;
        r.mm->addMapping(mapping(1, 60, false, "first"));
        r.mm->addMapping(mapping(-1, 60, false, "any"));
        r.mm->addMapping(mapping(2, 60, false, "ch2"));
        r.mm->addMapping(mapping(1, 60, true, "ccSameNumber"));
        r.mm->addMapping(mapping(1, 60, false, "withCtrl", "ctrlA"));
        r.mm->addMapping(mapping(1, 61, false, "otherNote"));
        QSignalSpy buttons(r.mm.get(), &MidiManager::buttonTriggered);
        QSignalSpy controls(r.mm.get(), &MidiManager::controlTriggered);

        r.noteOn(1, 60, 100);
        QCOMPARE(take(buttons), (QList<QVariantList>{{"first", 100}, {"any", 100}, {"withCtrl", 100}}));
        QCOMPARE(take(controls), (QList<QVariantList>{{"ctrlA", 100}}));

        r.noteOn(7, 60, 5);
        QCOMPARE(take(buttons), (QList<QVariantList>{{"any", 5}}));

        // Velocity 0 and note-off: no button fires, controls get value 0.
        r.noteOn(1, 60, 0);
        r.noteOff(1, 60);
        QVERIFY(buttons.isEmpty());
        QCOMPARE(take(controls), (QList<QVariantList>{{"ctrlA", 0}, {"ctrlA", 0}}));

        r.cc(1, 60, 3);
        QCOMPARE(take(buttons), (QList<QVariantList>{{"ccSameNumber", 3}}));
        QVERIFY(controls.isEmpty());
    }

    // A receiver that edits the table during dispatch must not upset the walk.
    void receiverMayChangeTheTableWhileDispatching()
    {
        Rig r;
        r.mm->addMapping(mapping(1, 10, false, "a"));
        r.mm->addMapping(mapping(1, 10, false, "b"));
        QStringList fired;
        connect(r.mm.get(), &MidiManager::buttonTriggered, r.mm.get(), [&](const QString& id, int) {
            fired << id;
            r.mm->clearAllMappings();
        });
        r.noteOn(1, 10, 1);
        QCOMPARE(fired, (QStringList{"a", "b"}));
        QVERIFY(r.mm->allMappings().isEmpty());
    }

    // Conflicts: same number and kind, and the same channel or "any" on either side.
    void conflictSearch()
    {
        Rig r;
        QCOMPARE(r.mm->mappingForButton("x"), MidiMapping());
        r.mm->addMapping(mapping(3, 40, false, "Btn"));
        r.mm->addMapping(mapping(-1, 41, false, "anyCh"));
        QCOMPARE(r.mm->mappingForButton("btn").number, -1); // case matters
        QCOMPARE(r.mm->conflictingMapping(-1, 40, false, QString()).buttonId, QString("Btn"));
        QCOMPARE(r.mm->conflictingMapping(9, 41, false, "other").buttonId, QString("anyCh"));
        QCOMPARE(r.mm->conflictingMapping(4, 40, false, QString()).number, -1);
        QCOMPARE(r.mm->conflictingMapping(3, 40, true, QString()).number, -1);
        QCOMPARE(r.mm->conflictingMapping(3, 40, false, "Btn").number, -1);
    }

    void removingAndReplacingByButtonId()
    {
        Rig r;
        QSignalSpy changed(r.mm.get(), &MidiManager::mappingChanged);
        r.mm->addMapping(mapping(1, 1, false, "a"));
        r.mm->addMapping(mapping(1, 2, false, "b"));
        r.mm->addMapping(mapping(1, 3, false, "a")); // replaces a's binding
        QCOMPARE(r.mm->allMappings(), (QList<MidiMapping>{mapping(1, 2, false, "b"), mapping(1, 3, false, "a")}));
        changed.clear();
        r.mm->removeMapping("nobody");
        QCOMPARE(changed.size(), 1); // also when nothing matched
        QCOMPARE(AppSettings().value("midi/count").toInt(), 2);
        r.mm->removeMapping("b");
        QCOMPARE(r.mm->allMappings(), (QList<MidiMapping>{mapping(1, 3, false, "a")}));
        QCOMPARE(AppSettings().value("midi/count").toInt(), 1);
        QCOMPARE(AppSettings().value("midi/0_btn").toString(), QString("a"));
        // A knob's binding goes by its control; an empty id takes no knob with it.
        r.mm->addMapping(mapping(1, 7, true, QString(), "__tab_vol_0__"));
        r.mm->removeMapping(QString());
        QCOMPARE(r.mm->allMappings().size(), 2);
        r.mm->removeMapping("__tab_vol_0__");
        QCOMPARE(r.mm->allMappings(), (QList<MidiMapping>{mapping(1, 3, false, "a")}));
    }

    // Bindings keyed by their control replace only the binding of the same control.
    void controlKeyedMappingsReplaceOnlyTheirOwnControl()
    {
        Rig r;
        r.mm->addMapping(mapping(1, 7, true, QString(), "__main_volume__"));
        r.mm->addMapping(mapping(1, 8, true, QString(), "__tab_vol_0__"));
        r.mm->addMapping(mapping(1, 9, true, QString(), "__tab_vol_1__"));
        r.mm->addMapping(mapping(1, 20, true, QString(), "__tab_vol_0__"));
        QCOMPARE(r.mm->allMappings(),
                 (QList<MidiMapping>{mapping(1, 7, true, QString(), "__main_volume__"),
                                     mapping(1, 9, true, QString(), "__tab_vol_1__"),
                                     mapping(1, 20, true, QString(), "__tab_vol_0__")}));
        // And a button binding that carries a control is keyed by its button.
        r.mm->addMapping(mapping(1, 30, false, "btn", "__tab_vol_1__"));
        QCOMPARE(r.mm->allMappings().size(), 4);
    }

    void learnBindsTheNextPressedNote()
    {
        Rig r;
        r.mm->addMapping(mapping(1, 50, false, "target"));
        r.mm->addMapping(mapping(1, 64, true, "ccButton"));
        QSignalSpy learned(r.mm.get(), &MidiManager::mappingLearned);
        QSignalSpy conflicts(r.mm.get(), &MidiManager::mappingConflictDetected);
        QSignalSpy buttons(r.mm.get(), &MidiManager::buttonTriggered);
        QSignalSpy notes(r.mm.get(), &MidiManager::noteReceived);

        r.mm->startLearn("other");
        r.mm->startLearn("target"); // replaces the armed target
        QVERIFY(r.mm->isLearning());
        QCOMPARE(r.mm->learnTarget(), QString("target"));

        // Note-offs, velocity 0 and controllers pass through and leave learn armed.
        r.noteOff(1, 50);
        r.noteOn(1, 50, 0);
        r.cc(1, 64, 127);
        QVERIFY(r.mm->isLearning());
        QCOMPARE(take(buttons), (QList<QVariantList>{{"ccButton", 127}}));
        QVERIFY(learned.isEmpty());

        // The target's own old binding is no conflict; the new note replaces it and is not dispatched.
        r.noteOn(2, 52, 90);
        QVERIFY(!r.mm->isLearning());
        QVERIFY(r.mm->learnTarget().isEmpty());
        QVERIFY(buttons.isEmpty());
        QVERIFY(conflicts.isEmpty());
        QCOMPARE(notes.size(), 3); // every message reported, the learned one too
        QCOMPARE(learned.size(), 1);
        QCOMPARE(learned.at(0).at(0).value<MidiMapping>(), mapping(2, 52, false, "target"));
        QCOMPARE(r.mm->allMappings(), (QList<MidiMapping>{mapping(1, 64, true, "ccButton"), mapping(2, 52, false, "target")}));

        // Disarmed: the same note now plays.
        r.noteOn(2, 52, 90);
        QCOMPARE(take(buttons), (QList<QVariantList>{{"target", 90}}));

        r.mm->startLearn("x");
        r.mm->stopLearn();
        QVERIFY(!r.mm->isLearning());
        r.mm->startLearn(QString()); // nothing to bind to: stays off
        QVERIFY(!r.mm->isLearning());
    }

    void learnConflictAndBothAnswers()
    {
        Rig r;
        r.mm->addMapping(mapping(1, 36, false, "kick"));
        r.mm->addMapping(mapping(1, 40, false, "mine"));
        r.mm->addMapping(mapping(-1, 36, false, "anyKick"));
        r.mm->addMapping(mapping(1, 37, false, "kick2"));
        const QList<MidiMapping> before = r.mm->allMappings();
        QSignalSpy learned(r.mm.get(), &MidiManager::mappingLearned);
        QSignalSpy conflicts(r.mm.get(), &MidiManager::mappingConflictDetected);
        QSignalSpy buttons(r.mm.get(), &MidiManager::buttonTriggered);

        r.mm->resolveConflict(true); // nothing pending: nothing happens
        QCOMPARE(r.mm->allMappings(), before);

        r.mm->startLearn("mine");
        r.noteOn(1, 36, 100);
        QVERIFY(!r.mm->isLearning());
        QVERIFY(buttons.isEmpty());
        QCOMPARE(conflicts.size(), 1);
        QCOMPARE(conflicts.at(0).at(0).value<MidiMapping>(), mapping(1, 36, false, "mine"));
        QCOMPARE(conflicts.at(0).at(1).value<MidiMapping>(), mapping(1, 36, false, "kick"));
        QVERIFY(r.mm->isConflictPending());
        QCOMPARE(r.mm->allMappings(), before);

        // No: the table stays as it was, and the pending binding is gone.
        r.mm->resolveConflict(false);
        QVERIFY(!r.mm->isConflictPending());
        QCOMPARE(r.mm->pendingMapping(), MidiMapping());
        QCOMPARE(r.mm->allMappings(), before);
        QVERIFY(learned.isEmpty());

        // A second conflict before the answer overwrites the first.
        r.mm->startLearn("mine");
        r.noteOn(1, 37, 100);
        r.mm->startLearn("mine");
        r.noteOn(1, 36, 100);
        QCOMPARE(r.mm->pendingMapping(), mapping(1, 36, false, "mine"));

        // Yes: every other holder of note 36 gives way, other notes stay, the target's old note goes.
        r.mm->resolveConflict(true);
        QVERIFY(!r.mm->isConflictPending());
        QCOMPARE(learned.size(), 1);
        QCOMPARE(learned.at(0).at(0).value<MidiMapping>(), mapping(1, 36, false, "mine"));
        QCOMPARE(r.mm->allMappings(), (QList<MidiMapping>{mapping(1, 37, false, "kick2"), mapping(1, 36, false, "mine")}));
        r.noteOn(1, 36, 1);
        QCOMPARE(take(buttons), (QList<QVariantList>{{"mine", 1}}));
    }

    // Only the conflicting binding of the other target goes, not its other notes.
    // (A table read from the settings can hold two bindings for one button.)
    void replacingKeepsTheOtherTargetsOtherBindings()
    {
        {
            AppSettings s;
            s.beginGroup("midi");
            s.setValue("count", 2);
            s.setValue("0_btn", "kick");
            s.setValue("0_ch", 1);
            s.setValue("0_note", 36);
            s.setValue("1_btn", "kick");
            s.setValue("1_ch", 1);
            s.setValue("1_note", 48);
        }
        Rig r;
        QCOMPARE(r.mm->allMappings().size(), 2);
        r.mm->startLearn("snare");
        r.noteOn(1, 36, 100);
        r.mm->resolveConflict(true);
        QCOMPARE(r.mm->allMappings(), (QList<MidiMapping>{mapping(1, 48, false, "kick"), mapping(1, 36, false, "snare")}));
    }

    void learnForVolumeTargetsBindsAController()
    {
        Rig r;
        r.mm->addMapping(mapping(1, 60, false, "btn"));
        QSignalSpy learned(r.mm.get(), &MidiManager::mappingLearned);
        QSignalSpy conflicts(r.mm.get(), &MidiManager::mappingConflictDetected);
        QSignalSpy buttons(r.mm.get(), &MidiManager::buttonTriggered);
        QSignalSpy controls(r.mm.get(), &MidiManager::controlTriggered);

        r.mm->startLearn("__main_volume__");
        r.noteOn(1, 60, 100); // a note plays on and leaves learn armed
        QCOMPARE(take(buttons), (QList<QVariantList>{{"btn", 100}}));
        QVERIFY(r.mm->isLearning());
        r.cc(3, 7, 0); // the first controller binds, whatever its value
        QVERIFY(!r.mm->isLearning());
        QVERIFY(controls.isEmpty());
        QCOMPARE(learned.size(), 1);
        QCOMPARE(learned.at(0).at(0).value<MidiMapping>(), mapping(3, 7, true, QString(), "__main_volume__"));

        r.mm->startLearn("__tab_vol_2__");
        r.cc(3, 8, 64);
        QCOMPARE(r.mm->allMappings().size(), 3);
        r.cc(3, 7, 127);
        r.cc(3, 8, 0);
        QCOMPARE(take(controls), (QList<QVariantList>{{"__main_volume__", 127}, {"__tab_vol_2__", 0}}));

        // Relearning moves only that control's binding.
        r.mm->startLearn("__main_volume__");
        r.cc(3, 9, 1);
        QCOMPARE(r.mm->allMappings(), (QList<MidiMapping>{mapping(1, 60, false, "btn"),
                                                           mapping(3, 8, true, QString(), "__tab_vol_2__"),
                                                           mapping(3, 9, true, QString(), "__main_volume__")}));

        // A controller already held by another volume target is a conflict.
        r.mm->startLearn("__tab_vol_0__");
        r.cc(3, 9, 50);
        QCOMPARE(conflicts.size(), 1);
        QCOMPARE(conflicts.at(0).at(1).value<MidiMapping>().control, QString("__main_volume__"));
        r.mm->resolveConflict(true);
        QCOMPARE(r.mm->allMappings(), (QList<MidiMapping>{mapping(1, 60, false, "btn"),
                                                           mapping(3, 8, true, QString(), "__tab_vol_2__"),
                                                           mapping(3, 9, true, QString(), "__tab_vol_0__")}));

        // Tab stops and look-alike ids learn notes, like buttons.
        QVERIFY(!MidiManager::isVolumeTarget("__tab_vol_x__"));
        QVERIFY(!MidiManager::isVolumeTarget("__tab_vol__"));
        r.mm->startLearn("__tab_stop_0__");
        r.cc(3, 10, 5);
        QVERIFY(r.mm->isLearning());
        r.noteOn(3, 70, 5);
        QCOMPARE(r.mm->mappingForButton("__tab_stop_0__"), mapping(3, 70, false, "__tab_stop_0__"));
    }

    void settingsWrittenAndReadBack()
    {
        FakeMidiBackend fake;
        fake.addInput("Keys");
        {
            MidiManager mm(&fake);
            mm.openInput("Keys");
            mm.addMapping(mapping(1, 36, false, "b-1"));
            mm.addMapping(mapping(-1, 7, true, QString(), "__main_volume__"));
            mm.addMapping(mapping(16, 127, false, "__tab_stop_3__", "x"));
        }
        AppSettings s;
        s.beginGroup("midi");
        QCOMPARE(s.value("device").toString(), QString("Keys"));
        QCOMPARE(s.value("count").toInt(), 3);
        QCOMPARE(s.value("1_btn").toString(), QString());
        QCOMPARE(s.value("1_ctrl").toString(), QString("__main_volume__"));
        QCOMPARE(s.value("1_ch").toInt(), -1);
        QCOMPARE(s.value("1_note").toInt(), 7);
        QCOMPARE(s.value("1_cc").toBool(), true);
        QCOMPARE(s.childKeys().size(), 2 + 3 * 5);
        s.endGroup();

        FakeMidiBackend none;
        MidiManager back(&none);
        QCOMPARE(back.allMappings(), (QList<MidiMapping>{mapping(1, 36, false, "b-1"),
                                                          mapping(-1, 7, true, QString(), "__main_volume__"),
                                                          mapping(16, 127, false, "__tab_stop_3__", "x")}));
        QCOMPARE(back.currentDevice(), QString("Keys"));
        QVERIFY(!back.connected());

        // A save rewrites the whole group: stale entries go.
        back.removeMapping("b-1");
        back.removeMapping("__tab_stop_3__");
        AppSettings t;
        t.beginGroup("midi");
        QCOMPARE(t.value("count").toInt(), 1);
        QVERIFY(!t.contains("1_note") && !t.contains("2_btn"));
    }

    void damagedGroupLoadsWithoutHarm_data()
    {
        QTest::addColumn<QVariantMap>("group");
        QTest::addColumn<QList<MidiMapping>>("expected");

        QTest::newRow("huge count") << QVariantMap{{"count", 2147483647}, {"0_note", 5}, {"0_btn", "a"}}
                                    << QList<MidiMapping>{mapping(-1, 5, false, "a")};
        QTest::newRow("negative count") << QVariantMap{{"count", -3}, {"0_note", 5}} << QList<MidiMapping>{};
        QTest::newRow("count not a number") << QVariantMap{{"count", "lots"}, {"0_note", 5}} << QList<MidiMapping>{};
        QTest::newRow("missing count") << QVariantMap{{"0_note", 5}} << QList<MidiMapping>{};
        QTest::newRow("count beyond entries")
            << QVariantMap{{"count", 5}, {"0_note", 1}, {"1_btn", "noNote"}, {"3_note", 3}, {"3_ch", 2}}
            << QList<MidiMapping>{mapping(-1, 1, false, ""), mapping(2, 3, false, "")};
        QTest::newRow("negative note skipped")
            << QVariantMap{{"count", 2}, {"0_note", -1}, {"0_btn", "gone"}, {"1_note", 9}, {"1_btn", "kept"}}
            << QList<MidiMapping>{mapping(-1, 9, false, "kept")};
        QTest::newRow("wrong types")
            << QVariantMap{{"count", "2"}, {"0_note", "abc"}, {"0_btn", "a"},
                           {"1_note", "12"}, {"1_ch", "x"}, {"1_cc", "maybe"}, {"1_btn", QStringList{"p", "q"}}}
            << QList<MidiMapping>{mapping(-1, 12, false, "")};
        QTest::newRow("as written, with bool text")
            << QVariantMap{{"count", 1}, {"0_note", 7}, {"0_ch", 4}, {"0_cc", "true"}, {"0_ctrl", "__main_volume__"}}
            << QList<MidiMapping>{mapping(4, 7, true, "", "__main_volume__")};
        QTest::newRow("odd keys ignored")
            << QVariantMap{{"count", 1}, {"0_note", 7}, {"99999999999_note", 1}, {"x_note", 2}}
            << QList<MidiMapping>{mapping(-1, 7, false, "")};
    }

    void damagedGroupLoadsWithoutHarm()
    {
        QFETCH(QVariantMap, group);
        QFETCH(QList<MidiMapping>, expected);
        {
            AppSettings s;
            s.beginGroup("midi");
            for (auto it = group.cbegin(); it != group.cend(); ++it)
                s.setValue(it.key(), it.value());
        }
        FakeMidiBackend none;
        MidiManager mm(&none);
        QCOMPARE(mm.allMappings(), expected);
        // Loading neither saves nor signals: the damaged group is left as found.
        AppSettings s;
        s.beginGroup("midi");
        QCOMPARE(s.childKeys().size(), group.size());
        QSignalSpy changed(&mm, &MidiManager::mappingChanged);
        mm.loadConfig();
        QVERIFY(changed.isEmpty());
        QCOMPARE(mm.allMappings(), expected);
    }
};

QTEST_GUILESS_MAIN(TstMidiManager)
#include "tst_midimanager.moc"
