#pragma once
// Reach into a MainWindow from the tests (the window befriends this class)
// and make sessions to load.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QUuid>

#include "MainWindow.h"
#include "TestSupport.h"
#include "Types.h"

class MainWindowTestAccess
{
public:
    static QWidget* gridArea(MainWindow* w) { return w->gridArea; }
    static QWidget* tabStrip(MainWindow* w) { return w->tabStrip; }
    static QWidget* leftPanel(MainWindow* w) { return w->leftPanel; }
    static QWidget* rightPanel(MainWindow* w) { return w->rightPanel; }
    static QLabel* musicCountLabel(MainWindow* w) { return w->musicCountLabel; }
    static QSplitter* mainSplitter(MainWindow* w) { return w->mainSplitter; }
    static QWidget* recIndicator(MainWindow* w) { return w->recIndicator; }
    static const QList<QPushButton*>& tabButtons(MainWindow* w) { return w->tabButtons; }
    static QList<MainWindow::GridPanel>& panels(MainWindow* w) { return w->m_panels; }
    static int& currentTab(MainWindow* w) { return w->currentTab; }
    static int& layoutMode(MainWindow* w) { return w->layoutMode; }
    static bool& stackDualPanes(MainWindow* w) { return w->stackDualPanes; }
    static QPushButton* stackButton(MainWindow* w) { return w->stackButton; }
    static const QList<QPushButton*>& layoutButtons(MainWindow* w) { return w->layoutButtons; }
    static QSlider* volSlider(MainWindow* w) { return w->volSlider; }
    static QPushButton* autoStopToggle(MainWindow* w) { return w->autoStopToggle; }
    static QPushButton* restartToggle(MainWindow* w) { return w->restartToggle; }
    static QPushButton* crossTabStopToggle(MainWindow* w) { return w->crossTabStopToggle; }
    static QString npTitle(MainWindow* w);
    static QString npTime(MainWindow* w);
    static const QHash<QString, ButtonData>& keyButtonMap(MainWindow* w) { return w->keyButtonMap; }
    static const QHash<QString, int>& tabIndexCache(MainWindow* w) { return w->tabIndexCache; }
    static QString& nowPlayingId(MainWindow* w) { return w->nowPlayingId; }
    static QTimer* freezeTimer(MainWindow* w) { return w->freezeTimer; }
    static QTimer* cacheHealTimer(MainWindow* w) { return w->cacheHealTimer; }
    static QTimer* dsInitTimer(MainWindow* w) { return w->dsInitTimer; }
    static QTimer* cpuTimer(MainWindow* w) { return w->cpuTimer; }
    static QTimer* positionTimer(MainWindow* w) { return w->positionTimer; }
    static QTimer* stripRebuildTimer(MainWindow* w) { return w->stripRebuildTimer; }
    static QTimer* themeDebounceTimer(MainWindow* w) { return w->themeDebounceTimer; }
    static QLabel* cpuLabel(MainWindow* w) { return w->sbCpu; }
    static void stepTab(MainWindow* w, int t) { w->stepTab(t); }
    static void selectTab(MainWindow* w, int t) { w->selectTab(t); }
    static void watchdogTick(MainWindow* w) { w->watchdogTick(); }
    static void setEventLog(MainWindow* w, EventLog* log) { w->eventLog = log; }
    static QWidget* toolBar(MainWindow* w) { return w->toolBar; }
    static const QList<QPushButton*>& menuBarButtons(MainWindow* w) { return w->menuBarButtons; }
    static const QList<QMenu*>& menuBarMenus(MainWindow* w) { return w->menuBarMenus; }
    static QSpinBox* colsSpin(MainWindow* w) { return w->colsSpin; }
    static QSpinBox* rowsSpin(MainWindow* w) { return w->rowsSpin; }
    static QDialog* searchDialog(MainWindow* w) { return w->searchDialog; }
    static QTimer* recordTimer(MainWindow* w) { return w->recordTimer; }
    static QLabel* recTimeLabel(MainWindow* w) { return w->recTimeLabel; }
    static QLabel* statusButtons(MainWindow* w) { return w->sbButtons; }
    static QLabel* statusFile(MainWindow* w) { return w->sbFile; }
    static const QString& defaultDevice(MainWindow* w) { return w->defaultDevice; }
    static EventLog* eventLog(MainWindow* w) { return w->eventLog; }
    static bool preloadOn(MainWindow* w) { return w->preloadOn; }
    static NowPlayingBar* nowPlayingBar(MainWindow* w) { return w->nowPlayingBar; }
    static QTimer* musicScanDebounce(MainWindow* w) { return w->musicScanDebounce; }
    static QTimer* libraryPoll(MainWindow* w) { return w->libraryPoll; }
    static int& libraryPollTicks(MainWindow* w) { return w->libraryPollTicks; }
    // The window's keys and the names of what they do, as its key map has them.
    static QList<std::pair<QKeySequence, QString>> windowKeyMap(MainWindow* w)
    {
        QList<std::pair<QKeySequence, QString>> out;
        for (const MainWindow::KeyHolder& h : w->windowKeyMap())
            out.append({h.keys, h.name});
        return out;
    }
};

#include <QLabel>
inline QString MainWindowTestAccess::npTitle(MainWindow* w) { return w->npTitle ? w->npTitle->text() : QString(); }
inline QString MainWindowTestAccess::npTime(MainWindow* w) { return w->npTime ? w->npTime->text() : QString(); }

namespace MainWindowTest {

// A session of `tabs` tabs of `perTab` buttons; with `audioDir` set, every
// button gets one of a few short WAV files made there (shared by several
// buttons, as real sessions do).
inline Session makeSession(int tabs, int perTab, const QString& audioDir = QString())
{
    QStringList files;
    if (!audioDir.isEmpty()) {
        QDir().mkpath(audioDir);
        for (int f = 0; f < 8; ++f) {
            const QString path = QDir(audioDir).filePath(QStringLiteral("tone%1.wav").arg(f));
            if (!QFile::exists(path))
                TestSupport::writeWav16(path, TestSupport::sine(220.0 * (f + 1), 0.4, 2, 44100), 2, 44100);
            files << path;
        }
    }
    Session s;
    s.buttonsPerTab = perTab;
    for (int t = 0; t < tabs; ++t) {
        TabData tab;
        tab.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        tab.name = QStringLiteral("Tab %1").arg(t + 1);
        for (int b = 0; b < perTab; ++b) {
            ButtonData bd;
            bd.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            if (!files.isEmpty()) {
                bd.audioPath = files[(t * perTab + b) % files.size()];
                bd.name = QStringLiteral("Sound %1-%2").arg(t + 1).arg(b + 1);
            }
            tab.buttons << bd;
        }
        s.tabs << tab;
    }
    return s;
}

// The entry of the toolbar's menus with the text, its key hint aside.
inline QAction* findAction(MainWindow* w, const QString& text)
{
    for (QMenu* m : MainWindowTestAccess::menuBarMenus(w))
        for (QAction* a : m->actions())
            if (a->text() == text || a->text().section(QLatin1Char('\t'), 0, 0) == text)
                return a;
    return nullptr;
}

inline bool writeSession(const Session& s, const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(QJsonDocument(s.toJson()).toJson()) > 0;
}

} // namespace MainWindowTest
