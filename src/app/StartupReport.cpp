#include "StartupReport.h"

#include <QApplication>
#include <QColor>
#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QThreadPool>
#include <QTimer>

#include <stdexcept>

#include "SettingsKeys.h"
#include "DirectSoundEngine.h"
#include "MainWindow.h"
#include "Modal.h"
#include "OpLog.h"
#include "SafeWrite.h"
#include "SessionManager.h"
#include "ThemeManager.h"

namespace StartupReport {
namespace {

struct State
{
    QJsonArray steps;
    QJsonArray modal;
    QPointer<MainWindow> window;
    qint64 shownAt = 0;
    bool written = false;
    QString style;   // before the style sheet wraps it
};

State& state()
{
    static State s;
    return s;
}

QString reportPath()
{
    return qEnvironmentVariable("TR_STARTUP_REPORT");
}

QJsonArray toArray(const QStringList& list)
{
    QJsonArray a;
    for (const QString& s : list)
        a.append(s);
    return a;
}

// The start-up lines of the operation log, oldest first, without time stamps.
QJsonArray startupLog()
{
    QStringList lines = OpLog::entriesNewestFirst();
    std::reverse(lines.begin(), lines.end());
    QJsonArray out;
    for (const QString& line : std::as_const(lines)) {
        const qsizetype at = line.indexOf(QLatin1Char(' '));
        const QString text = at >= 0 ? line.mid(at + 1) : line;
        if (text.startsWith(QLatin1String("[Startup]")))
            out.append(text);
    }
    return out;
}

QJsonObject windowPart(MainWindow* w)
{
    QJsonObject o;
    o[QStringLiteral("title")] = w->windowTitle();
    o[QStringLiteral("visible")] = w->isVisible();
    o[QStringLiteral("iconEmpty")] = w->windowIcon().isNull();
    int visiblePanes = 0;
    for (const MainWindow::GridPanel& p : w->gridPanels()) {
        if (p.panel && p.panel->isVisible())
            ++visiblePanes;
    }
    o[QStringLiteral("panes")] = int(w->gridPanels().size());
    o[QStringLiteral("visiblePanes")] = visiblePanes;
    o[QStringLiteral("layoutMode")] = w->currentLayoutMode();
    QJsonArray tabs;
    if (QWidget* strip = w->findChild<QWidget*>(QStringLiteral("tabStrip"))) {
        for (QPushButton* b : strip->findChildren<QPushButton*>()) {
            if (b->objectName() != QLatin1String("addTabInStrip") && b->isVisible())
                tabs.append(b->text());
        }
    }
    o[QStringLiteral("tabStrip")] = tabs;
    return o;
}

QJsonObject sessionPart()
{
    SessionManager* sm = SessionManager::instance();
    const Session& s = sm->session();
    QJsonObject o;
    o[QStringLiteral("filePath")] = s.filePath;
    o[QStringLiteral("dirty")] = sm->isDirty();
    o[QStringLiteral("buttonsPerTab")] = s.buttonsPerTab;
    QJsonArray tabs;
    for (const TabData& t : s.tabs)
        tabs.append(t.name);
    o[QStringLiteral("tabs")] = tabs;
    QJsonArray timers;
    for (QTimer* t : sm->findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
        timers.append(QJsonObject{{QStringLiteral("intervalMs"), t->interval()},
                                  {QStringLiteral("active"), t->isActive()}});
    o[QStringLiteral("timers")] = timers;
    return o;
}

void write(int rc)
{
    State& st = state();
    if (st.written)
        return;
    QJsonObject r;
    r[QStringLiteral("exitCode")] = rc;
    r[QStringLiteral("steps")] = st.steps;
    r[QStringLiteral("modal")] = st.modal;
    r[QStringLiteral("startupLog")] = startupLog();
    r[QStringLiteral("applicationName")] = QCoreApplication::applicationName();
    r[QStringLiteral("organizationName")] = QCoreApplication::organizationName();
    r[QStringLiteral("version")] = QCoreApplication::applicationVersion();
    r[QStringLiteral("style")] = st.style;
    r[QStringLiteral("quitOnLastWindowClosed")] = QApplication::quitOnLastWindowClosed();
    r[QStringLiteral("threadPoolMax")] = QThreadPool::globalInstance()->maxThreadCount();
    r[QStringLiteral("appIconEmpty")] = QApplication::windowIcon().isNull();
    r[QStringLiteral("mediaBackend")] = QString::fromLocal8Bit(qgetenv("QT_MEDIA_BACKEND"));
    r[QStringLiteral("shownEpochMs")] = double(st.shownAt);
    r[QStringLiteral("reportEpochMs")] = double(QDateTime::currentMSecsSinceEpoch());
    if (st.window) {
        r[QStringLiteral("window")] = windowPart(st.window);
        r[QStringLiteral("session")] = sessionPart();
        r[QStringLiteral("dsInitialized")] = DirectSoundEngine::instance()->isInitialized();
    }
    if (ThemeManager* tm = ThemeManager::instance()) {
        r[QStringLiteral("preset")] = tm->presetName();
        r[QStringLiteral("accent")] = tm->colors().accent.name();
    }
    r[QStringLiteral("recentFiles")] = toArray(SettingsKeys::read(SettingsKeys::RecentFiles).toStringList());
    // A report that could not be written is tried again at the next chance
    // (the end of the program).
    QString error;
    if (safeWriteFile(reportPath(), QJsonDocument(r).toJson(), &error))
        st.written = true;
    else
        qWarning() << "Cannot write the start-up report:" << error;
}

// With TR_STARTUP_REPORT_KEEP_OPEN the window is left open after the report,
// holding an unsaved change, for something outside to close it.
bool keepOpen()
{
    return qEnvironmentVariableIsSet("TR_STARTUP_REPORT_KEEP_OPEN");
}

// Writes the report now and lets the end of the program write it again.
void writeInterim()
{
    write(0);
    state().written = false;
}

// The answer to the n-th message box: TR_STARTUP_REPORT_ANSWERS is a comma
// list of "discard", "cancel", "hold" and "release" taken in turn, its last
// entry repeating; without it every box is answered "Discard". "hold" leaves
// the box open for good, as a user who walked away would; "release" keeps it
// open until a file named as the report plus ".release" appears, then
// answers "Discard", as a user who came back would.
QVariant answerMessageBox(qsizetype n)
{
    const QStringList answers = qEnvironmentVariable("TR_STARTUP_REPORT_ANSWERS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    const QString answer = answers.isEmpty() ? QString() : answers.value(std::min(n, answers.size() - 1));
    if (answer == QLatin1String("cancel"))
        return int(QMessageBox::Cancel);
    if (answer == QLatin1String("hold")) {
        QEventLoop held;
        held.exec();
    }
    if (answer == QLatin1String("release")) {
        QEventLoop held;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &held, [&held] {
            if (QFileInfo::exists(reportPath() + QStringLiteral(".release")))
                held.quit();
        });
        poll.start(20);
        held.exec();
    }
    return int(QMessageBox::Discard);
}

} // namespace

bool enabled()
{
    return !reportPath().isEmpty();
}

void install()
{
    if (!enabled())
        return;
    if (QStyle* style = QApplication::style())
        state().style = QString::fromLatin1(style->metaObject()->className());
    Modal::setHandler([](const Modal::Request& req) -> QVariant {
        state().modal.append(QJsonObject{{QStringLiteral("kind"), int(req.kind)},
                                         {QStringLiteral("title"), req.title},
                                         {QStringLiteral("text"), req.text.isEmpty() ? req.label : req.text}});
        // Written once the request has been answered and dealt with (or,
        // for a box held open, from within its loop).
        if (keepOpen())
            QTimer::singleShot(0, qApp, &writeInterim);
        switch (req.kind) {
        case Modal::Kind::MessageBox: {
            qsizetype boxes = 0;
            for (const QJsonValue& m : std::as_const(state().modal))
                boxes += m[QStringLiteral("kind")].toInt() == int(Modal::Kind::MessageBox);
            return answerMessageBox(boxes - 1);
        }
        case Modal::Kind::Dialog:
            return 0;
        default:
            return QVariant();
        }
    });
}

void noteStep(int progress, const QString& status)
{
    if (!enabled())
        return;
    state().steps.append(QJsonObject{{QStringLiteral("progress"), progress},
                                     {QStringLiteral("status"), status},
                                     {QStringLiteral("epochMs"), double(QDateTime::currentMSecsSinceEpoch())}});
}

void maybeThrowAt(int progress)
{
    if (!enabled() || qEnvironmentVariableIntValue("TR_STARTUP_THROW_AT") != progress || progress == 0)
        return;
    if (qEnvironmentVariableIsSet("TR_STARTUP_THROW_UNKNOWN"))
        throw 42;
    throw std::runtime_error("step " + std::to_string(progress) + " failed on purpose");
}

void noteShown(MainWindow* w, qint64 shownAt)
{
    if (!enabled())
        return;
    State& st = state();
    st.window = w;
    st.shownAt = shownAt;
    bool ok = false;
    int delay = qEnvironmentVariableIntValue("TR_STARTUP_REPORT_DELAY_MS", &ok);
    if (!ok)
        delay = 1000;
    QTimer::singleShot(delay, w, [w] {
        // What the window shows once the work queued so far has landed: a
        // widget added to a visible parent is shown by a queued call, which
        // a busy machine may not have delivered before this timer fires.
        QCoreApplication::sendPostedEvents();
        if (keepOpen()) {
            SessionManager::instance()->markDirty();
            writeInterim();
            return;
        }
        write(0);
        // The program ends as it does for a user: the window closes and the
        // window list quits the event loop.
        w->close();
        if (w->isVisible())
            QCoreApplication::exit(3);
    });
}

void finish(int rc)
{
    if (enabled())
        write(rc);
}

std::function<qint64()> waitClock()
{
    if (enabled() && qEnvironmentVariable("TR_STARTUP_WAIT_CLOCK") == QLatin1String("frozen"))
        return [] { return qint64(0); };
    return [] { return QDateTime::currentMSecsSinceEpoch(); };
}

} // namespace StartupReport
