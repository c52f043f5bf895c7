#pragma once
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

// A project name: < > : " / \ | ? * become "_", trimmed; "Session" when that
// leaves nothing, "." or "..".
QString cleanProjectName(const QString& name);

// base/name when nothing of that name exists there, else the first free
// "base/name (n)" for n from 1 to 9999; empty when every one is taken.
QString freeFolder(const QString& base, const QString& name);

// "Contains <n> tab(s): a, b, c", the list cut to 77 characters and "…"
// when longer than 80.
QString containsLine(const QList<QString>& tabNames);

// The confirmation dialog's tree of what will be made. projectName empty:
// a merge, with no project file line.
QString treeText(const QString& destination, const QString& projectName, const QList<QString>& selected);

} // namespace BundleImportRules
