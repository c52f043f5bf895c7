#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <alsa/asoundlib.h>
#include <unistd.h>

#include "AppSettings.h"
#include "MidiInput.h"
#include "MidiManager.h"

// The real sequencer: a virtual source port of our own plays notes into the manager.
class TstMidiAlsa : public QObject
{
    Q_OBJECT
private:
    snd_seq_t* m_seq = nullptr;
    int m_port = -1;

    void send(void (*fill)(snd_seq_event_t*))
    {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_source(&ev, m_port);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        fill(&ev);
        QVERIFY(snd_seq_event_output_direct(m_seq, &ev) >= 0);
    }

private slots:
    void initTestCase()
    {
        AppSettings s;
        s.remove(QStringLiteral("midi"));
    }

    void withoutSequencerThereAreNoDevices()
    {
        if (QFile::exists("/dev/snd/seq"))
            QSKIP("this machine has the sequencer");
        MidiInputBackend* b = MidiInputBackend::system();
        QVERIFY(!b->available());
        QVERIFY(b->error().contains("/dev/snd/seq"));
        QCOMPARE(b->inputCount(), 0);
        QCOMPARE(b->outputCount(), 0);
        QString name;
        QVERIFY(!b->inputName(0, &name));
        QCOMPARE(b->open(0, [](void*, quint32) {}, nullptr), MidiInputBackend::Handle(0));
    }

    void virtualSourceReachesTheManager()
    {
        if (!QFile::exists("/dev/snd/seq"))
            QSKIP("no ALSA sequencer (/dev/snd/seq) on this machine");
        QVERIFY(snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_OUTPUT, 0) >= 0);
        snd_seq_set_client_name(m_seq, "Rododu test source");
        const QByteArray portName = QStringLiteral("Rododu test %1").arg(::getpid()).toUtf8();
        m_port = snd_seq_create_simple_port(m_seq, portName.constData(),
                                            SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        QVERIFY(m_port >= 0);

        MidiManager mm;
        QVERIFY(mm.inputDevices().contains(QString::fromUtf8(portName)));
        QVERIFY(!mm.inputDevices().contains(QStringLiteral("Tarvello Rododu In"))); // our own port is no device
        QSignalSpy changed(&mm, &MidiManager::devicesChanged);
        QVERIFY(mm.openInput(QString::fromUtf8(portName)));
        QCOMPARE(changed.size(), 1);
        QVERIFY(!mm.openInput(QString::fromUtf8(portName))); // already open: subscribed once only

        QSignalSpy notes(&mm, &MidiManager::noteReceived);
        QSignalSpy ccs(&mm, &MidiManager::ccReceived);
        send([](snd_seq_event_t* e) { snd_seq_ev_set_noteon(e, 2, 60, 100); });
        send([](snd_seq_event_t* e) { snd_seq_ev_set_noteon(e, 2, 60, 0); });
        send([](snd_seq_event_t* e) { snd_seq_ev_set_noteoff(e, 15, 61, 40); });
        send([](snd_seq_event_t* e) { snd_seq_ev_set_pitchbend(e, 0, 1000); });
        send([](snd_seq_event_t* e) { snd_seq_ev_set_controller(e, 0, 7, 64); });

        QTRY_COMPARE(ccs.size(), 1);
        QCOMPARE(ccs.at(0), (QVariantList{1, 7, 64}));
        QCOMPARE(notes.size(), 3);
        QCOMPARE(notes.at(0), (QVariantList{3, 60, 100}));
        QCOMPARE(notes.at(1), (QVariantList{3, 60, 0}));
        QCOMPARE(notes.at(2), (QVariantList{16, 61, 0}));

        snd_seq_close(m_seq);
        m_seq = nullptr;
    }
};

QTEST_GUILESS_MAIN(TstMidiAlsa)
#include "tst_midialsa.moc"
