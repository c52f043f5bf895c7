#include "StartupFixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>
#include <QUuid>

#include "TestSupport.h"
#include "Types.h"

namespace StartupFixture {

QString Home::settingsFile() const
{
    return config + QStringLiteral("/Tarvello/Rododu.conf");
}

QString Home::crashReportFile() const
{
    return data + QStringLiteral("/Tarvello/Tarvello Rododu/crash_report.txt");
}

Home makeHome()
{
    Home h;
    h.root = TestSupport::tempDir();
    h.config = h.root + QStringLiteral("/config");
    h.data = h.root + QStringLiteral("/data");
    for (const char* d : {"/config", "/data", "/cache", "/tmp", "/runtime"})
        QDir().mkpath(h.root + QLatin1String(d));
    QFile::setPermissions(h.root + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                   | QFileDevice::ExeOwner);
    return h;
}

void writeSettings(const Home& home, const QVariantMap& values)
{
    QSettings s(home.settingsFile(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        s.setValue(it.key(), it.value());
    s.sync();
}

QStringList makeWavs(const QString& dir, int n, double seconds)
{
    QDir().mkpath(dir);
    QStringList out;
    for (int i = 0; i < n; ++i) {
        const QString path = QStringLiteral("%1/tone%2.wav").arg(dir).arg(i);
        TestSupport::writeWav16(path, TestSupport::sine(220.0 + 20 * i, seconds, 2, 44100, 0.3), 2, 44100);
        out << path;
    }
    return out;
}

QStringList tabNames(int n)
{
    QStringList names;
    for (int i = 0; i < n; ++i)
        names << QStringLiteral("Set %1").arg(i + 1);
    return names;
}

void writeSession(const QString& path, const QStringList& tabNames, int buttonsPerTab,
                  const QStringList& audioFiles, int layoutMode)
{
    Session s;
    s.buttonsPerTab = buttonsPerTab;
    s.layoutMode = layoutMode;
    int k = 0;
    for (const QString& name : tabNames) {
        TabData t;
        t.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        t.name = name;
        for (int b = 0; b < buttonsPerTab; ++b) {
            ButtonData btn;
            btn.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            if (!audioFiles.isEmpty()) {
                btn.audioPath = audioFiles[k++ % audioFiles.size()];
                btn.name = QStringLiteral("%1 %2").arg(name).arg(b + 1);
            }
            t.buttons << btn;
        }
        s.tabs << t;
    }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(QJsonDocument(s.toJson()).toJson());
}

Run runProgram(const Home& home, const QStringList& args, const QHash<QString, QString>& env, int reportDelayMs,
               const Meanwhile& meanwhile)
{
    Run run;
    const QString reportFile = home.root + QStringLiteral("/report.json");
    QFile::remove(reportFile);

    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("HOME"), home.root);
    e.insert(QStringLiteral("XDG_CONFIG_HOME"), home.config);
    e.insert(QStringLiteral("XDG_DATA_HOME"), home.data);
    e.insert(QStringLiteral("XDG_CACHE_HOME"), home.root + QStringLiteral("/cache"));
    e.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.root + QStringLiteral("/runtime"));
    e.insert(QStringLiteral("TMPDIR"), home.root + QStringLiteral("/tmp"));
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e.insert(QStringLiteral("TR_AUDIO_OUTPUT"), QStringLiteral("null"));
    e.insert(QStringLiteral("TR_NO_CRASH_DIALOG"), QStringLiteral("1"));
    e.insert(QStringLiteral("TR_STARTUP_REPORT"), reportFile);
    e.insert(QStringLiteral("TR_STARTUP_REPORT_DELAY_MS"), QString::number(reportDelayMs));
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        e.insert(it.key(), it.value());

    QProcess p;
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(home.workingDir.isEmpty() ? home.root : home.workingDir);
    run.launchEpochMs = QDateTime::currentMSecsSinceEpoch();
    p.start(QStringLiteral(TR_BINARY_DIR "/src/TarvelloRuzoru"), args);
    if (!p.waitForStarted(30000)) {
        run.errors = "the program did not start: " + p.errorString().toUtf8();
        return run;
    }
    if (meanwhile)
        meanwhile(p.processId(), reportFile);
    run.finished = p.waitForFinished(60000);
    if (!run.finished) {
        p.kill();
        p.waitForFinished();
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.errors = p.readAllStandardError();
    QFile f(reportFile);
    if (f.open(QIODevice::ReadOnly))
        run.report = QJsonDocument::fromJson(f.readAll()).object();
    return run;
}

} // namespace StartupFixture
