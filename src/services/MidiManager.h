#pragma once
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

class MidiInputBackend;
class QJsonObject;

// One MIDI binding: a note or a controller on a channel, and the target it fires.
struct MidiMapping
{
    int channel = -1;       // 1 to 16 as received; -1 = any channel
    int number = -1;        // note or controller number 0 to 127; -1 = no mapping
    bool isCC = false;      // true: control change; false: note
    QString buttonId;       // fired through buttonTriggered (button id or reserved target id)
    QString control;        // fired through controlTriggered

    // A mapping found by a lookup is a binding; the empty mapping is not.
    bool isBound() const { return number >= 0; }
    // What tells bindings apart in conflicts: the button id, else the control.
    QString key() const { return buttonId.isEmpty() ? control : buttonId; }

    bool operator==(const MidiMapping&) const = default;
};
Q_DECLARE_METATYPE(MidiMapping)

// The process-wide MIDI input service: opens the inputs, turns notes and
// control changes into triggers through the mapping table, runs the learn mode
// and keeps the table in the settings group "midi".
class MidiManager : public QObject
{
    Q_OBJECT
public:
    // The one manager of the program, on the system's MIDI inputs.
    static MidiManager* instance();
    // The backend the one manager is made on (null: the system's). Tests set
    // theirs before anything asks for the instance.
    static void setInstanceBackend(MidiInputBackend* backend);

    // Tests make their own managers on a backend of their own (not owned; it
    // must outlive the manager). A null backend means the system's.
    explicit MidiManager(MidiInputBackend* backend = nullptr, QObject* parent = nullptr);
    ~MidiManager() override;

    QStringList inputDevices() const;
    QStringList outputDevices() const;
    bool openInput(const QString& name);
    void closeInput();

    // The name of the input opened last ("device" in the settings) and whether
    // any input has been opened.
    QString currentDevice() const { return m_deviceName; }
    bool connected() const { return m_open; }

    // Learn mode: the next note (or, for a volume target, the next control
    // change) is bound to the armed target.
    void startLearn(const QString& targetId);
    void stopLearn();
    bool isLearning() const { return m_learning; }
    QString learnTarget() const { return m_learnTarget; }

    bool isConflictPending() const { return m_conflictPending; }
    MidiMapping pendingMapping() const { return m_pendingMapping; }

    QList<MidiMapping> allMappings() const { return m_mappings; }
    MidiMapping mappingForButton(const QString& buttonId) const;
    MidiMapping conflictingMapping(int channel, int number, bool isCC, const QString& excludeId) const;
    void addMapping(const MidiMapping& m);
    // Removes the mapping whose key (its button id, else its control) is buttonId.
    void removeMapping(const QString& buttonId);
    void clearAllMappings();
    // Replaces the whole table at once: one save, one mappingChanged.
    void replaceMappings(const QList<MidiMapping>& mappings);
    void resolveConflict(bool replace);

    void loadConfig();
    void saveConfig();
    // Reads the table again from the settings (written behind the manager's
    // back) and tells the listeners.
    void reloadConfig();
    // Replaces the settings group "midi" with a bundle's MIDI table (its
    // manifest's "midi": "device" and "mappings" of "btn", "ctrl", "ch",
    // "note", "cc").
    static void writeBundleConfig(const QJsonObject& midi);
    // The same, then the running table follows it.
    void takeUpBundleConfig(const QJsonObject& midi);

    // Reserved targets served through controlTriggered: "__main_volume__" and "__tab_vol_%1__".
    static bool isVolumeTarget(const QString& targetId);

public slots:
    // Entry of every received message; the input callback reaches it by a queued call.
    void onRawMessage(int channel, int number, int value, bool isCC);

signals:
    void noteReceived(int channel, int note, int velocity);
    void ccReceived(int channel, int cc, int value);
    void buttonTriggered(const QString& buttonId, int velocity);
    void controlTriggered(const QString& controlId, int value);
    void mappingLearned(const MidiMapping& mapping);
    void mappingConflictDetected(const MidiMapping& incoming, const MidiMapping& existing);
    void mappingChanged();
    void devicesChanged();

private:
    void openAllInputs();
    bool openIndex(int index, const QString& name);
    bool learnFrom(int channel, int number, int value, bool isCC);
    // Removes the mapping held by m's key from the table; saving and signalling are the caller's.
    void dropByKey(const MidiMapping& m);

    MidiInputBackend* m_backend = nullptr;
    QList<quintptr> m_handles;
    QList<MidiMapping> m_mappings;
    QString m_deviceName;
    bool m_open = false;
    bool m_learning = false;
    QString m_learnTarget;
    bool m_conflictPending = false;
    MidiMapping m_pendingMapping;
};
