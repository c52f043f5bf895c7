#pragma once
#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>

// Runs the real program in a child process with a home of its own and reads
// the start-up report it writes (see StartupReport.h). Shared by the start-up
// tests and the start-up benchmark.
namespace StartupFixture {

struct Home
{
    QString root;
    QString config;   // XDG_CONFIG_HOME
    QString data;     // XDG_DATA_HOME
    QString workingDir; // where the program starts; empty: root
    QString settingsFile() const;   // the program's settings file
    QString crashReportFile() const;
};

// A fresh home below the test's temporary folder.
Home makeHome();
// Writes settings the program will read at start ("group/key" = value).
void writeSettings(const Home& home, const QVariantMap& values);

// n short WAV files (sine tones) in dir.
QStringList makeWavs(const QString& dir, int n, double seconds);
// A session file with one tab per name and buttonsPerTab buttons each; the
// buttons take the audio files in turn (none when the list is empty).
void writeSession(const QString& path, const QStringList& tabNames, int buttonsPerTab,
                  const QStringList& audioFiles = {}, int layoutMode = 1);
QStringList tabNames(int n);

struct Run
{
    int exitCode = -1;
    bool finished = false;
    QJsonObject report;
    QByteArray errors;       // what the program wrote to stderr
    qint64 launchEpochMs = 0;
};
// What a test does while the program runs: given its process id and the
// report file's path.
using Meanwhile = std::function<void(qint64 pid, const QString& reportFile)>;
// Starts the program with args and waits until it ends (at most 60 s), after
// running meanwhile when given.
Run runProgram(const Home& home, const QStringList& args, const QHash<QString, QString>& env = {},
               int reportDelayMs = 600, const Meanwhile& meanwhile = {});

} // namespace StartupFixture
