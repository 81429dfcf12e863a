#pragma once

#include <QList>
#include <QObject>

// Decides when the application quits: only when no visible, parentless,
// quit-on-close window is left and no tracked object (a running session
// display) is alive. Qt's own quit-on-last-window rule is switched off,
// because rootless remote windows do not keep the application alive.
class CloseHelper : public QObject
{
    Q_OBJECT

public:
    // The one instance of the process, created without parent on first use.
    static CloseHelper* instance();

    void addObject(QObject* object);

public slots:
    void checkForQuit();
    void removeObject(QObject* object);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CloseHelper();
    ~CloseHelper() override;

    static CloseHelper* Instance;
    QList<QObject*> m_objects;
};
