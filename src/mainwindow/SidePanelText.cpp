#include "SidePanelText.h"

#include <QDir>
#include <QFileInfo>

#include "LibraryManager.h"
#include "OutputChoices.h"

namespace SidePanelText {

QString musicFolder(const QString& filePath, const QString& home)
{
    // The library gives absolute paths: their folder is plain text work.
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    const QString folder = filePath.startsWith(QLatin1Char('/')) && slash >= 0
                               ? (slash == 0 ? QStringLiteral("/") : filePath.left(slash))
                               : QFileInfo(filePath).absolutePath();
    if (home.isEmpty())
        return folder;
    QString h = home;
    while (h.endsWith(QLatin1Char('/')))
        h.chop(1);
    if (folder == home || folder == h)
        return QStringLiteral("~");
    if (folder.startsWith(h + QLatin1Char('/')))
        return QStringLiteral("~") + folder.mid(h.size());
    return folder;
}

QString musicRowText(const QString& filePath, const QString& name, const QString& home)
{
    return MusicRowTexts(home)(filePath, name);
}

QString MusicRowTexts::operator()(const QString& filePath, const QString& name)
{
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    const QStringView dir = QStringView(filePath).left(slash < 0 ? 0 : slash);
    if (slash < 0 || !m_held || dir != m_dir) {
        m_dir = dir.toString();
        m_folder = musicFolder(filePath, m_home);
        // A path without a slash has its folder worked out each time.
        m_held = slash >= 0;
    }
    return name + QLatin1Char('\n') + m_folder;
}

QString deviceLabel(const QString& description)
{
    return OutputChoices::cut(description, kDeviceChars);
}

QString setName(const QString& path)
{
    const QString file = QFileInfo(path).fileName();
    const qsizetype dot = file.indexOf(QLatin1Char('.'));
    return dot < 0 ? file : file.left(dot);
}

QString setFolder(const QString& path)
{
    return QFileInfo(QFileInfo(path).absolutePath()).fileName();
}

QString libraryCategoryFor(const LibraryManager& library, const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    // A folder already in the library comes back under its own category.
    const QStringList roots = library.rootFolders();
    for (const QString& category : roots)
        if (QDir::cleanPath(library.folderPath(category)) == clean)
            return category;
    QString name = QFileInfo(clean).fileName();
    if (name.isEmpty())
        name = clean;
    auto freeFor = [&](const QString& category) {
        const QString held = library.folderPath(category);
        return held.isEmpty() || QDir::cleanPath(held) == clean;
    };
    if (freeFor(name))
        return name;
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)").arg(name).arg(n);
        if (freeFor(candidate))
            return candidate;
    }
}

} // namespace SidePanelText
