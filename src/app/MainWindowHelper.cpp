#include "MainWindowHelper.h"

#include "AppLogging.h"

MainWindowHelper::MainWindowHelper(QWidget* window, QObject* parent)
    : QObject(parent)
    , m_window(window)
{
}

void MainWindowHelper::activate()
{
    if (!m_window)
        return;
    if (!m_window->isVisible()) {
        m_window->show();
        m_window->activateWindow();
    } else if (m_window->isMinimized()) {
        m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized)
                                 | Qt::WindowActive);
    } else {
        m_window->raise();
        m_window->activateWindow();
    }
    qCDebug(lcApp) << "main window activated";
}
