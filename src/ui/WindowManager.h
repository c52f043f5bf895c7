#pragma once
#include <QList>
#include <QObject>
#include <functional>

class MainWindow;

// The list of open main windows. Start-up turns Qt's quit-on-last-window-closed
// off, so this list is what ends the event loop: a main window registers at
// the end of its constructor and unregisters in its close handler, and the
// application quits when the last one goes. The list never owns or touches
// the windows themselves; it only keeps their addresses. GUI thread only.
class WindowManager : public QObject
{
    Q_OBJECT
public:
    // Builds a new main window without parent (its constructor registers it)
    // and shows, raises and activates it. Set once by start-up, which knows
    // the main window.
    using WindowFactory = std::function<MainWindow*()>;

    static WindowManager* instance();
    static void setWindowFactory(WindowFactory factory);

    // Appends the window unless it is already listed (then nothing happens).
    void registerWindow(MainWindow* window);
    // Removes every occurrence, always emits windowListChanged(), and quits
    // the application when no window is left.
    void unregisterWindow(MainWindow* window);
    // A new main window through the factory; null when no factory is set.
    MainWindow* openNewWindow();
    // Told by a window whose close was accepted, once it has stored what it
    // keeps and before it lets go of the engines: emits lastWindowClosing()
    // when it is the only window listed.
    void noteClosing(MainWindow* window);

    QList<MainWindow*> windows() const { return m_windows; }

signals:
    void windowListChanged();
    // The last window is closing: what it keeps is stored, and the program
    // ends once it has let go of the engines.
    void lastWindowClosing();

private:
    WindowManager() = default;
    QList<MainWindow*> m_windows;
};
