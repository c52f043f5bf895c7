#pragma once
#include <QJsonArray>
#include <QList>
#include <QString>

// The import's rules on names and folders, kept free of dialogs and files
// so the preview, the dialogs and the worker agree on them. Every name that
// comes out of a bundle is reduced to one safe path component here.
namespace BundleImportRules {

// The last component of a name from a bundle, with "/" and "\" both taken as
// separators and control characters (NUL among them) replaced by "_".
QString fileNamePart(const QString& name);

// A tab's folder: the cleaning of its name (or of "Tab <position>" when the
// name is empty); "Tab" when that leaves nothing, "." or "..".
QString tabFolderComponent(const QString& tabName, int position);

// The folders of the bundle's tabs, one per name in the same order: the tab
// folder of each name at its 1-based position, a folder taken already by an
// earlier tab getting " (n)" (n = 1, 2, ...). The confirmation shows these
// and the import fills these.
QList<QString> tabFolders(const QList<QString>& tabNames);

// For each item of a manifest's "audioFiles", the position in tabNames (the
// names of "tabSettings": the tabs that carry audio) of the tab it was packed
// with; -1 when none fits. An item's "tabIndex" counts every exported tab,
// those without audio too. Our own bundles give each "tabSettings" entry the
// same "tabIndex", which settles it; for others the items' tabs are matched
// in order against tabNames by their "tabName" (an unnamed tab's item says
// "Tab <tabIndex + 1>"). An item whose tab does not match goes by its name.
QList<int> itemTabPositions(const QJsonArray& items, const QList<QString>& tabNames,
                            const QJsonArray& tabSettings);

// A project name: < > : " / \ | ? * and control characters become "_",
// trimmed, cut to fit a file name; "Session" when that leaves nothing, "." or
// "..".
QString cleanProjectName(const QString& name);

// base/name when nothing of that name exists there, else the first free
// "base/name (n)" for n from 1 to 9999; empty when every one is taken.
QString freeFolder(const QString& base, const QString& name);

// "Contains <n> tab(s): a, b, c", the list cut to 77 characters and "…"
// when longer than 80.
QString containsLine(const QList<QString>& tabNames);

// The confirmation dialog's tree of what will be made: the destination, the
// project file, and below "Audio/" the folders given. projectName empty: a
// merge, with no project file line.
QString treeText(const QString& destination, const QString& projectName, const QList<QString>& folders);

} // namespace BundleImportRules
