#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// Brings the main window to the front when another start of the program asks.
class MainWindowHelper : public QObject
{
    Q_OBJECT

public:
    explicit MainWindowHelper(QWidget* window, QObject* parent = nullptr);

public slots:
    void activate();

private:
    QPointer<QWidget> m_window;
};
