#pragma once

#include "PendingCalls.h"
#include "SortedTableModel.h"

class QTimer;

// A table of one of the server's lists for one connection: asked for every
// five seconds, and merged into rows kept sorted by id. A tick is skipped
// while a request of the model is still outstanding, so a slow server never
// has more than one of them at a time.
class PolledTableModel : public SortedTableModel
{
    Q_OBJECT

public:
    enum { SortRole = Qt::UserRole + 1 };
    static constexpr int UpdateIntervalMs = 5000;

    PolledTableModel(JsonRpcHandler* handler, QObject* parent);

    bool isUpdating() const;
    int pendingCount() const { return m_calls.size(); }

public slots:
    void startUpdating();
    // Asks at once, dropping the outstanding requests; the next tick is a
    // full interval away.
    void forceUpdate();
    void on_UpdateTimer_timeout();

protected:
    virtual void requestList() = 0;

    PendingCalls m_calls;

private:
    QTimer* m_updateTimer;
};
