#pragma once

#include <QProcess>

// A process detached from the controlling terminal (new session), so that
// programs like ssh cannot prompt on a terminal and use askpass instead.
class NottyProcess : public QProcess
{
    Q_OBJECT

public:
    using QProcess::QProcess;

protected:
    void setupChildProcess() override;
};
