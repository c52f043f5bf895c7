#include "SessionManager.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTimer>

#include "AppSettings.h"
#include "FileCheck.h"
#include "RecordId.h"
#include "SettingsKeys.h"
#include "Modal.h"
#include "SafeWrite.h"

namespace {
constexpr int kDefaultButtons = 36;
constexpr int kMaxRecentFiles = 10;
// Far above anything the program writes (even a session full of button
// images); Qt's JSON reader gives up at 2 GiB anyway, after using twice that
// in memory. A bigger file is refused before it is read.
constexpr qint64 kMaxSessionBytes = qint64(1) << 30;
const QString kRecentKey = QStringLiteral("recentFiles");

// Files are remembered by where they are, not by how they were named: a
// relative name would point elsewhere once the program runs in another folder.
QString absolutePath(const QString& path)
{
    return path.isEmpty() ? path : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}
} // namespace

SessionManager* SessionManager::instance()
{
    static SessionManager* s = new SessionManager;
    return s;
}

SessionManager::SessionManager()
{
    registerSessionTypes();
    m_autoSave = new QTimer(this);
    connect(m_autoSave, &QTimer::timeout, this, &SessionManager::onAutoSaveTimeout);
    newSession();
}

TabData SessionManager::makeDefaultTab()
{
    TabData tab;
    tab.id = RecordId::make();
    tab.name = QStringLiteral("Tab 1");
    tab.buttons.reserve(kDefaultButtons);
    for (int i = 0; i < kDefaultButtons; ++i) {
        ButtonData b;
        b.id = RecordId::make();
        tab.buttons.append(b);
    }
    return tab;
}

void SessionManager::newSession()
{
    m_session = Session();
    m_session.tabs.append(makeDefaultTab());
    m_renewedIds = 0;
    m_autoSaveFailing = false;
    setDirty(false);
    emit sessionLoaded(m_session);
}

bool SessionManager::loadSession(const QString& path)
{
    // Only plain files: a pipe would block the GUI thread in open(), and a
    // device such as /dev/zero never ends.
    switch (FileCheck::kindOf(path)) {
    case FileCheck::Kind::Missing:
        qWarning() << "Cannot open session:" << path;
        return false;
    case FileCheck::Kind::NotRegular:
        qWarning() << "Cannot open session:" << path << "(not a regular file)";
        return false;
    case FileCheck::Kind::Regular:
        break;
    }
    const QFileInfo info(path);
    if (info.size() > kMaxSessionBytes) {
        qWarning() << "Session file is too large:" << path << info.size() << "bytes";
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        qWarning() << "Cannot open session:" << path;
        return false;
    }
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        qWarning() << "Cannot open session:" << path << f.errorString();
        return false;
    }
    f.close();

    Session loaded;
    QString parserError;
    switch (readSession(data, &loaded, &parserError)) {
    case ReadResult::ParseError:
        qWarning() << "Session parse error:" << parserError;
        return false;
    case ReadResult::NotAnObject:
        qWarning() << "Session file is not a JSON object:" << path;
        return false;
    case ReadResult::Ok:
        break;
    }
    // Everything was read into a separate record; the current session is
    // replaced only now that the file is known to be good.
    loaded.filePath = absolutePath(path);
    // Engines key their sounds by button id, and learned MIDI notes are
    // stored under it: repeats get ids of their own, and buttons without
    // one (and the pads a tab's grid shows beyond the file's buttons) get
    // theirs here, the same at every load. The file keeps what it holds
    // until the session is saved; the load leaves the session clean.
    // Made ids stem from the file's bytes, so they are this file's alone.
    m_renewedIds = RecordId::renewRepeatedButtonIds(loaded);
    RecordId::giveMissingButtonIds(loaded, shownButtonsPerTab(loaded.buttonsPerTab), RecordId::fileKey(data));
    m_session = std::move(loaded);
    m_autoSaveFailing = false;

    setDirty(false);
    addRecentFile(m_session.filePath);
    emit sessionLoaded(m_session);
    return true;
}

SessionManager::ReadResult SessionManager::readSession(const QByteArray& data, Session* out, QString* parserError)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &err);
    if (err.error != QJsonParseError::NoError) {
        if (parserError)
            *parserError = err.errorString();
        return ReadResult::ParseError;
    }
    if (!doc.isObject())
        return ReadResult::NotAnObject;
    *out = Session::fromJson(doc.object());
    // A file without tabs reads as one holding a bare tab "Tab 1". Its id
    // stems from the file's bytes: the same at every load of the file (so
    // are its buttons' ids, made at the load from it), and no other file's.
    if (out->tabs.isEmpty()) {
        TabData tab;
        tab.id = RecordId::fileTabId(RecordId::fileKey(data));
        tab.name = QStringLiteral("Tab 1");
        out->tabs.append(tab);
    }
    return ReadResult::Ok;
}

bool SessionManager::saveSession(const QString& path)
{
    m_lastSaveError.clear();
    const QString target = absolutePath(path.isEmpty() ? m_session.filePath : path);
    if (target.isEmpty())
        return saveSessionAs();

    const QByteArray text = QJsonDocument(m_session.toJson()).toJson(QJsonDocument::Indented);

    // The text goes to a temporary file beside the target, which replaces the
    // target only when every byte is written; a failure leaves the old file.
    QString error;
    if (!safeWriteFile(target, text, &error)) {
        qWarning() << "Cannot write session:" << target << error;
        m_lastSaveError = QStringLiteral("%1: %2").arg(target, error);
        return false;
    }

    m_session.filePath = target;
    m_autoSaveFailing = false;
    setDirty(false);
    addRecentFile(target);
    emit sessionSaved();
    return true;
}

bool SessionManager::saveSessionAs()
{
    m_lastSaveError.clear();
    QString name = Modal::getSaveFileName(nullptr, QStringLiteral("Save Session As"), QString(),
                                          QStringLiteral("Tarvello Session (*.vx);;JSON Files (*.json)"));
    if (name.isEmpty())
        return false;
    if (!name.endsWith(QLatin1String(".vx")) && !name.endsWith(QLatin1String(".json")))
        name += QLatin1String(".vx");
    return saveSession(name);
}

void SessionManager::markDirty()
{
    setDirty(true);
}

void SessionManager::setDirty(bool dirty)
{
    if (m_dirty == dirty)
        return;
    m_dirty = dirty;
    emit dirtyChanged(dirty);
}

void SessionManager::setAutoSaveInterval(int ms)
{
    m_autoSave->stop();
    if (ms > 0)
        m_autoSave->start(ms);
}

void SessionManager::onAutoSaveTimeout()
{
    if (!m_dirty || m_session.filePath.isEmpty())
        return;
    // A failure leaves the session dirty, so the next tick tries again.
    if (!saveSession(QString()) && !m_autoSaveFailing) {
        m_autoSaveFailing = true;
        emit autoSaveFailed(m_lastSaveError);
    }
}

QStringList SessionManager::recentFiles() const
{
    return SettingsKeys::read(kRecentKey).toStringList();
}

void SessionManager::addRecentFile(const QString& path)
{
    AppSettings s;
    QStringList list = SettingsKeys::read(kRecentKey).toStringList();
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > kMaxRecentFiles)
        list.removeLast();
    s.setValue(kRecentKey, list);
}
