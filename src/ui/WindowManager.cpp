#include "WindowManager.h"

#include <QCoreApplication>

namespace {
WindowManager::WindowFactory& factory()
{
    static WindowManager::WindowFactory f;
    return f;
}
} // namespace

WindowManager* WindowManager::instance()
{
    static WindowManager* s = new WindowManager;
    return s;
}

void WindowManager::setWindowFactory(WindowFactory f)
{
    factory() = std::move(f);
}

void WindowManager::registerWindow(MainWindow* window)
{
    if (m_windows.contains(window))
        return;
    m_windows.append(window);
    emit windowListChanged();
}

void WindowManager::unregisterWindow(MainWindow* window)
{
    m_windows.removeAll(window);
    emit windowListChanged();
    if (m_windows.isEmpty())
        QCoreApplication::quit();
}

void WindowManager::noteClosing(MainWindow* window)
{
    if (m_windows.size() == 1 && m_windows.first() == window)
        emit lastWindowClosing();
}

MainWindow* WindowManager::openNewWindow()
{
    if (!factory())
        return nullptr;
    return factory()();
}
