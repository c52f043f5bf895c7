#include "MidiManager.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>

#include "AppSettings.h"
#include "HeldIndices.h"
#include "MidiInput.h"
#include "OpLog.h"

namespace {

// Runs on the backend's input thread: copies the four values and posts them.
void midiInProc(void* instance, quint32 msg)
{
    if (!instance)
        return;
    int channel = 0, number = 0, value = 0;
    bool isCC = false;
    if (!MidiShortMessage::decode(msg, &channel, &number, &value, &isCC))
        return;
    QMetaObject::invokeMethod(static_cast<MidiManager*>(instance), "onRawMessage", Qt::QueuedConnection,
                              Q_ARG(int, channel), Q_ARG(int, number), Q_ARG(int, value), Q_ARG(bool, isCC));
}

// Names of the devices whose name can be read, in index order; names may repeat.
QStringList deviceNames(MidiInputBackend* b, bool inputs)
{
    QStringList names;
    const int n = inputs ? b->inputCount() : b->outputCount();
    for (int i = 0; i < n; ++i) {
        QString name;
        if (inputs ? b->inputName(i, &name) : b->outputName(i, &name))
            names << name;
    }
    return names;
}

bool sameBinding(const MidiMapping& m, int channel, int number, bool isCC)
{
    return m.number == number && m.isCC == isCC
        && (m.channel == channel || m.channel < 0 || channel < 0);
}

} // namespace

namespace {
MidiInputBackend* s_instanceBackend = nullptr;
}

void MidiManager::setInstanceBackend(MidiInputBackend* backend)
{
    s_instanceBackend = backend;
}

MidiManager* MidiManager::instance()
{
    static MidiManager* s_instance = new MidiManager(s_instanceBackend);
    return s_instance;
}

MidiManager::MidiManager(MidiInputBackend* backend, QObject* parent)
    : QObject(parent)
    , m_backend(backend ? backend : MidiInputBackend::system())
{
    qRegisterMetaType<MidiMapping>("MidiMapping");
    loadConfig();
    QTimer::singleShot(500, this, [this] { openAllInputs(); });
}

MidiManager::~MidiManager()
{
    closeInput();
}

bool MidiManager::isVolumeTarget(const QString& targetId)
{
    if (targetId == QLatin1String("__main_volume__"))
        return true;
    static const QRegularExpression tabVol(QStringLiteral("^__tab_vol_\\d+__$"));
    return tabVol.match(targetId).hasMatch();
}

QStringList MidiManager::inputDevices() const
{
    return deviceNames(m_backend, true);
}

QStringList MidiManager::outputDevices() const
{
    return deviceNames(m_backend, false);
}

void MidiManager::openAllInputs()
{
    if (!m_backend->available()) {
        VX_LOG(QStringLiteral("[MidiManager] No MIDI inputs: %1").arg(m_backend->error()));
        return;
    }
    // One walk over the device list: every input whose name can be read is tried.
    const int n = m_backend->inputCount();
    for (int i = 0; i < n; ++i) {
        QString name;
        if (m_backend->inputName(i, &name))
            openIndex(i, name);
    }
}

bool MidiManager::openInput(const QString& name)
{
    const int n = m_backend->inputCount();
    for (int i = 0; i < n; ++i) {
        QString devName;
        if (m_backend->inputName(i, &devName) && devName == name && openIndex(i, name))
            return true;
    }
    return false;
}

bool MidiManager::openIndex(int index, const QString& name)
{
    const MidiInputBackend::Handle h = m_backend->open(index, &midiInProc, this);
    if (!h)
        return false;
    m_backend->start(h);
    m_handles << h;
    m_deviceName = name;
    m_open = true;
    VX_LOG(QStringLiteral("[MidiManager] Opened MIDI input: %1").arg(name));
    emit devicesChanged();
    return true;
}

void MidiManager::closeInput()
{
    for (MidiInputBackend::Handle h : std::as_const(m_handles)) {
        m_backend->stop(h);
        m_backend->close(h);
    }
    m_handles.clear();
    m_open = false;
    m_deviceName.clear();
}

void MidiManager::startLearn(const QString& targetId)
{
    if (targetId.isEmpty()) {
        // Nothing to bind to: an empty target disarms rather than binding a note to nothing.
        stopLearn();
        return;
    }
    m_learning = true;
    m_learnTarget = targetId;
}

void MidiManager::stopLearn()
{
    m_learning = false;
    m_learnTarget.clear();
}

MidiMapping MidiManager::mappingForButton(const QString& buttonId) const
{
    for (const MidiMapping& m : m_mappings) {
        if (m.buttonId == buttonId)
            return m;
    }
    return MidiMapping();
}

MidiMapping MidiManager::conflictingMapping(int channel, int number, bool isCC, const QString& excludeId) const
{
    for (const MidiMapping& m : m_mappings) {
        if (!excludeId.isEmpty() && m.key() == excludeId)
            continue;
        if (sameBinding(m, channel, number, isCC))
            return m;
    }
    return MidiMapping();
}

void MidiManager::dropByKey(const MidiMapping& m)
{
    // Keyed by its control: only the binding of that same control goes, never
    // every mapping without a button id.
    m_mappings.removeIf([&](const MidiMapping& x) {
        return m.buttonId.isEmpty() ? x.buttonId.isEmpty() && x.control == m.control : x.buttonId == m.buttonId;
    });
}

void MidiManager::addMapping(const MidiMapping& m)
{
    dropByKey(m);
    m_mappings.append(m);
    saveConfig();
    emit mappingChanged();
}

void MidiManager::removeMapping(const QString& buttonId)
{
    // A volume target is held by its control: it goes by the same name.
    m_mappings.removeIf([&](const MidiMapping& m) { return m.key() == buttonId; });
    saveConfig();
    emit mappingChanged();
}

void MidiManager::clearAllMappings()
{
    m_mappings.clear();
    saveConfig();
    emit mappingChanged();
}

void MidiManager::replaceMappings(const QList<MidiMapping>& mappings)
{
    m_mappings = mappings;
    saveConfig();
    emit mappingChanged();
}

void MidiManager::resolveConflict(bool replace)
{
    if (!m_conflictPending)
        return;
    const MidiMapping pending = m_pendingMapping;
    m_pendingMapping = MidiMapping();
    m_conflictPending = false;
    if (!replace)
        return;
    // Every binding of that note or controller held by another target gives way,
    // so the note ends up with the learned target alone. Other bindings of
    // those targets stay.
    const QString key = pending.key();
    m_mappings.removeIf([&](const MidiMapping& m) {
        return m.key() != key && sameBinding(m, pending.channel, pending.number, pending.isCC);
    });
    addMapping(pending);
    emit mappingLearned(pending);
}

bool MidiManager::learnFrom(int channel, int number, int value, bool isCC)
{
    if (!m_learning)
        return false;
    MidiMapping incoming;
    incoming.channel = channel;
    incoming.number = number;
    if (isVolumeTarget(m_learnTarget)) {
        // A knob or fader: the first control change binds, whatever its value.
        if (!isCC)
            return false;
        incoming.isCC = true;
        incoming.control = m_learnTarget;
    } else {
        // A button or a tab stop: a note-on that is really pressed binds.
        if (isCC || value < 1)
            return false;
        incoming.buttonId = m_learnTarget;
    }
    const MidiMapping existing = conflictingMapping(channel, number, incoming.isCC, m_learnTarget);
    m_learning = false;
    m_learnTarget.clear();
    if (!existing.isBound()) {
        addMapping(incoming);
        emit mappingLearned(incoming);
    } else {
        m_conflictPending = true;
        m_pendingMapping = incoming;
        emit mappingConflictDetected(incoming, existing);
    }
    return true;
}

void MidiManager::onRawMessage(int channel, int number, int value, bool isCC)
{
    if (isCC)
        emit ccReceived(channel, number, value);
    else
        emit noteReceived(channel, number, value);

    if (learnFrom(channel, number, value, isCC))
        return;

    // A receiver may change the table while we walk it; walk a copy.
    const QList<MidiMapping> table = m_mappings;
    for (const MidiMapping& m : table) {
        if ((m.channel != channel && m.channel >= 0) || m.number != number || m.isCC != isCC)
            continue;
        if (!m.buttonId.isEmpty() && value > 0)
            emit buttonTriggered(m.buttonId, value);
        if (!m.control.isEmpty())
            emit controlTriggered(m.control, value);
    }
}

void MidiManager::saveConfig()
{
    AppSettings s;
    s.beginGroup(QStringLiteral("midi"));
    s.remove(QString());
    s.setValue(QStringLiteral("device"), m_deviceName);
    s.setValue(QStringLiteral("count"), int(m_mappings.size()));
    for (int i = 0; i < m_mappings.size(); ++i) {
        const MidiMapping& m = m_mappings.at(i);
        const QString p = QString::number(i);
        s.setValue(p + QLatin1String("_btn"), m.buttonId);
        s.setValue(p + QLatin1String("_ctrl"), m.control);
        s.setValue(p + QLatin1String("_ch"), m.channel);
        s.setValue(p + QLatin1String("_note"), m.number);
        s.setValue(p + QLatin1String("_cc"), m.isCC);
    }
    s.endGroup();
}

void MidiManager::loadConfig()
{
    AppSettings s;
    s.beginGroup(QStringLiteral("midi"));
    m_deviceName = s.value(QStringLiteral("device")).toString();
    const int count = settingInt(s, QStringLiteral("count"), 0);

    // Indices without any key would read as note -1 and be skipped anyway.
    static const QRegularExpression entryKey(QStringLiteral("^(\\d+)_"));
    const QList<int> indices = heldIndices(s.childKeys(), entryKey, count);

    m_mappings.clear();
    for (int i : std::as_const(indices)) {
        const QString p = QString::number(i);
        MidiMapping m;
        m.number = settingInt(s, p + QLatin1String("_note"), -1);
        if (m.number < 0)
            continue;
        m.buttonId = s.value(p + QLatin1String("_btn")).toString();
        m.control = s.value(p + QLatin1String("_ctrl")).toString();
        m.channel = settingInt(s, p + QLatin1String("_ch"), -1);
        m.isCC = settingBool(s, p + QLatin1String("_cc"), false);
        m_mappings.append(m);
    }
    s.endGroup();
}

void MidiManager::reloadConfig()
{
    loadConfig();
    emit mappingChanged();
}

void MidiManager::writeBundleConfig(const QJsonObject& midi)
{
    AppSettings s;
    s.beginGroup(QStringLiteral("midi"));
    s.remove(QString());
    s.setValue(QStringLiteral("device"), midi.value(QStringLiteral("device")).toString());
    const QJsonArray mappings = midi.value(QStringLiteral("mappings")).toArray();
    s.setValue(QStringLiteral("count"), int(mappings.size()));
    for (int i = 0; i < mappings.size(); ++i) {
        const QJsonObject m = mappings.at(i).toObject();
        const QString p = QString::number(i);
        s.setValue(p + QLatin1String("_btn"), m.value(QStringLiteral("btn")).toString());
        s.setValue(p + QLatin1String("_ctrl"), m.value(QStringLiteral("ctrl")).toString());
        s.setValue(p + QLatin1String("_ch"), m.value(QStringLiteral("ch")).toInt(-1));
        s.setValue(p + QLatin1String("_note"), m.value(QStringLiteral("note")).toInt(-1));
        s.setValue(p + QLatin1String("_cc"), m.value(QStringLiteral("cc")).toBool(false));
    }
    s.endGroup();
    s.sync();
}

void MidiManager::takeUpBundleConfig(const QJsonObject& midi)
{
    writeBundleConfig(midi);
    reloadConfig();
}
