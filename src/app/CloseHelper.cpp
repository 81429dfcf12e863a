#include "CloseHelper.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

CloseHelper* CloseHelper::Instance = nullptr;

CloseHelper* CloseHelper::instance()
{
    if (!Instance)
        Instance = new CloseHelper;
    return Instance;
}

CloseHelper::CloseHelper()
{
    connect(qApp, &QGuiApplication::lastWindowClosed, this, &CloseHelper::checkForQuit);
    qApp->installEventFilter(this);
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

CloseHelper::~CloseHelper()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

void CloseHelper::addObject(QObject* object)
{
    connect(object, &QObject::destroyed, this, &CloseHelper::removeObject);
    m_objects.append(object);
}

void CloseHelper::removeObject(QObject* object)
{
    m_objects.removeAll(object);
    if (m_objects.isEmpty())
        checkForQuit();
}

void CloseHelper::checkForQuit()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (const QWidget* widget : widgets) {
        if (widget->isVisible() && !widget->parent() && widget->testAttribute(Qt::WA_QuitOnClose))
            return;
    }
    if (!m_objects.isEmpty())
        return;
    QCoreApplication::quit();
}

bool CloseHelper::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::Close) {
        const QList<QObject*> objects = m_objects;
        m_objects.clear();
        for (QObject* object : objects) {
            disconnect(object, nullptr, this, nullptr);
            delete object;
        }
    }
    return QObject::eventFilter(watched, event);
}
