// The status bar at the foot of the window: audio, buttons of the current
// tab, sounds playing, the process's CPU figure, the session file, MIDI inputs
// and the version.
#include "MainWindow.h"

#include <QTimer>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSet>

#include "AudioEngine.h"
#include "MidiManager.h"
#include "ProcessTimes.h"
#include "SessionManager.h"
#include "ThemeFollow.h"
#include "ThemeManager.h"
#include "VXIcons.h"

QWidget* MainWindow::buildStatusBar()
{
    statusBarWidget = new QWidget(this);
    statusBarWidget->setObjectName(QStringLiteral("statusBar"));
    statusBarWidget->setFixedHeight(sc(26));
    auto* row = new QHBoxLayout(statusBarWidget);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(6);

    auto separator = [&] {
        auto* f = new QFrame(statusBarWidget);
        f->setFrameShape(QFrame::VLine);
        f->setFixedWidth(1);
        f->setFixedHeight(12);
        // Its own height limits: the global rule for vertical lines lets
        // them run the full height otherwise.
        followTheme(f, [f](const ThemeColors& c) {
            f->setStyleSheet(QStringLiteral("QFrame{color:%1;margin:0 2px;min-height:12px;max-height:12px;}")
                                 .arg(c.border.name()));
        });
        row->addWidget(f);
    };
    auto label = [&](const QString& text) {
        auto* l = new QLabel(text, statusBarWidget);
        row->addWidget(l);
        return l;
    };

    sbAudio = label(QStringLiteral("● Audio Ready"));
    separator();
    sbButtons = label(QStringLiteral("Btns: 0/36"));
    separator();
    sbPlaying = label(QStringLiteral("Playing: 0"));
    separator();
    sbCpu = label(QStringLiteral("CPU: —"));
    separator();
    sbFile = label(QStringLiteral("No file"));
    separator();
    sbMidi = label(QStringLiteral("MIDI: —"));
    separator();
    sbLibrary = label(QStringLiteral("VX Library"));
    separator();
    row->addStretch(1);
    sbVersion = label(QStringLiteral("Tarvello Rododu v2.0.84"));
    applyStatusBarTheme();
    return statusBarWidget;
}

void MainWindow::applyStatusBarTheme()
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    if (sbAudio) {
        // Once the players' sound server has gone, they stay lost for this
        // run while the pre-decoded short sounds come back by themselves.
        const bool playersGone = AudioEngine::instance()->isServerGone();
        QSet<QString> lost = lostOutputs;
        if (playersGone)
            lost.remove(QStringLiteral("players"));
        QString text = QStringLiteral("● Audio Ready");
        QString tip;
        QColor colour = c.success;
        if (!lost.isEmpty()) {
            text = QStringLiteral("● Audio Lost");
            tip = playersGone ? QStringLiteral("The sound server was lost: sounds stopped. Short sounds come back "
                                               "with it; long sounds and music then need a restart of the program.")
                              : QStringLiteral("The audio output was lost: sounds stopped, reconnecting.");
            colour = c.danger;
        } else if (serverQuiet) {
            text = QStringLiteral("● Sound server not answering");
            tip = QStringLiteral("The sound server does not answer: nothing is heard until it does. Sounds pressed "
                                 "meanwhile are heard once it answers.");
            colour = c.warning;
        } else if (playersGone) {
            text = QStringLiteral("● Long sounds off: restart");
            tip = QStringLiteral("The sound server was lost. Short sounds play; long sounds and music play again "
                                 "once the program is restarted.");
            colour = c.warning;
        }
        if (text == QStringLiteral("● Audio Ready") && serverBackTimer && serverBackTimer->isActive())
            text = QStringLiteral("● Audio Ready: the sound server answers again");
        sbAudio->setText(text);
        sbAudio->setToolTip(tip);
        sbAudio->setStyleSheet(QStringLiteral("color:%1;font-size:10px;").arg(colour.name()));
    }
    if (sbLibrary)
        sbLibrary->setStyleSheet(QStringLiteral("color:%1;font-size:10px;font-weight:600;").arg(c.accent.name()));
    if (sbVersion)
        sbVersion->setStyleSheet(QStringLiteral("color:%1;font-size:10px;")
                                     .arg(ThemeManager::readableOn(c.textMuted, {c.surface}).name()));
}

void MainWindow::updateStatusBar()
{
    if (!statusBarWidget)
        return;
    const Session& s = SessionManager::instance()->session();
    sbPlaying->setText(QStringLiteral("Playing: %1").arg(playingSoundCount()));
    int withFile = 0;
    int all = 0;
    if (currentTab >= 0 && currentTab < s.tabs.size()) {
        const QList<ButtonData>& buttons = s.tabs[currentTab].buttons;
        all = int(buttons.size());
        for (const ButtonData& b : buttons)
            if (!b.audioPath.isEmpty())
                ++withFile;
    }
    sbButtons->setText(QStringLiteral("Btns: %1/%2").arg(withFile).arg(all));
    sbFile->setText(s.filePath.isEmpty() ? QStringLiteral("No file") : QFileInfo(s.filePath).fileName());
    const qsizetype midi = MidiManager::instance()->inputDevices().size();
    sbMidi->setText(midi >= 1 ? QStringLiteral("MIDI: %1 dev").arg(midi) : QStringLiteral("MIDI: —"));
}

// A sound counts once however many engines or voices play it; an ended
// sound the players still hold does not count.
int MainWindow::playingSoundCount()
{
    PlaybackEngines& e = engines();
    QSet<QString> ids;
    for (const QString& id : AudioEngine::instance()->activeIds())
        ids.insert(id);
    for (const QString& id : std::as_const(dsSounding))
        if (e.dsIsPlaying(id))
            ids.insert(id);
    if (!musicId.isEmpty() && (e.audioIsPlaying(musicId) || e.pcmIsPlaying(musicId) || e.wasapiIsPlaying(musicId)))
        ids.insert(musicId);
    return int(ids.size());
}

int MainWindow::cpuPercent(quint64 wallDelta, quint64 busyDelta, int processors)
{
    if (wallDelta == 0)
        return 0;
    const quint64 n = processors > 0 ? quint64(processors) : 1;
    const quint64 p = (busyDelta * 100 / wallDelta) / n;
    if (p > 100)
        return 100;
    return p < 1 ? 0 : int(p);
}

void MainWindow::updateCpuUsage()
{
    if (!sbCpu)
        return;
    quint64 kernel = 0;
    quint64 user = 0;
    if (!ProcessTimes::processTimes(&kernel, &user)) {
        sbCpu->setText(QStringLiteral("CPU: —"));
        return;
    }
    const quint64 now = ProcessTimes::systemTime100ns();
    if (cpuFirstSample) {
        prevWall = now;
        prevKernel = kernel;
        prevUser = user;
        cpuFirstSample = false;
        sbCpu->setText(QStringLiteral("CPU: 0%"));
        return;
    }
    // The wall clock may step back; a negative interval counts as none.
    const quint64 dWall = now > prevWall ? now - prevWall : 0;
    const quint64 used = kernel + user;
    const quint64 prevUsed = prevKernel + prevUser;
    const quint64 busy = used > prevUsed ? used - prevUsed : 0;
    prevWall = now;
    prevKernel = kernel;
    prevUser = user;
    const int p = cpuPercent(dWall, busy, ProcessTimes::processorCount());

    const ThemeColors& c = ThemeManager::instance()->colors();
    const QColor col = p < 30 ? c.textMuted : p < 70 ? c.warning : c.accent;
    // The colour changes only at a threshold; setting the same sheet again
    // would re-polish the label every two seconds for nothing.
    const QString style = QStringLiteral("color:%1;font-size:10px;").arg(col.name());
    if (sbCpu->styleSheet() != style)
        sbCpu->setStyleSheet(style);
    sbCpu->setText(QStringLiteral("CPU: %1%").arg(p));
}
