#pragma once
#include <QString>

class LibraryManager;

// Texts and names of the side panels, kept apart from the widgets so every
// list and menu that shows them agrees.
namespace SidePanelText {

// A music row's folder line: the folder that holds the file, with the home
// folder shown as "~" when the folder is the home folder or lies below it
// (only as the leading part: "/home/alice" stays as it is for "/home/al").
QString musicFolder(const QString& filePath, const QString& home);

// A music row's display text: the name, a line feed, the folder line.
QString musicRowText(const QString& filePath, const QString& name, const QString& home);

// musicRowText for many rows at once: the folder line is worked out once
// for each run of files of one folder (a library lists a folder's files
// together).
class MusicRowTexts
{
public:
    explicit MusicRowTexts(const QString& home) : m_home(home) {}
    QString operator()(const QString& filePath, const QString& name);

private:
    QString m_home;
    QString m_dir;      // the folder part of the last path
    QString m_folder;   // its folder line
    bool m_held = false;
};

// The longest name the music device list shows.
constexpr int kDeviceChars = 32;
// An output device's description in the music device list when no other
// output shares it: up to 32 characters whole, longer ones cut to 29
// followed by "...".
QString deviceLabel(const QString& description);

// A recent set's name: the file name up to its first dot (show.final.vx is "show").
QString setName(const QString& path);
// The name of the folder that holds a recent set.
QString setFolder(const QString& path);

// The library category for a folder the user adds: the category that holds
// this very folder already; else the folder's name when no other folder has
// it, else "Name (2)", "Name (3)" ... so an earlier folder of the same name
// keeps its root.
QString libraryCategoryFor(const LibraryManager& library, const QString& folder);

} // namespace SidePanelText
