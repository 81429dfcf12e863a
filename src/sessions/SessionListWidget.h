#pragma once

#include "PendingCalls.h"
#include "Session.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QModelIndex>
#include <QWidget>

class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTimer;
class SessionModel;

// The window of one open connection: the user's sessions on that server and
// the actions on them. Every action is one JSON-RPC call on the connection.
class SessionListWidget : public QWidget
{
    Q_OBJECT

public:
    SessionListWidget(JsonRpcHandler* handler, QWidget* parent);

    JsonRpcHandler* handler() const;
    SessionModel* model() const { return m_model; }
    QSortFilterProxyModel* proxy() const { return m_proxy; }
    QTableView* view() const { return m_view; }

    void callStart(const QString& command, const QString& geometry, const QString& name);
    void callTerminate(const QString& id);
    void callConnect(const QString& id, const QString& displayName);
    void callDisconnect(const QString& id);

signals:
    // The server answered the first request: the login is complete.
    void gotVersion();

public slots:
    void startUpdating();
    void on_BookmarkButton_clicked();
    void on_ConnectSessionButton_clicked();
    void on_DisconnectSessionButton_clicked();
    void on_EditSessionButton_clicked();
    void on_LogButton_clicked();
    void on_NewSessionButton_clicked();
    void on_TerminateSessionButton_clicked();
    void on_SessionListModel_sessionsUpdated();
    void on_SessionListView_activated(const QModelIndex& index);
    void on_SessionListView_selectionChanged();
    void on_SessionListView_sortIndicatorChanged();

public:
    void handleVersionReply(const QString& id, const QJsonValue& result, const QJsonValue& error);
    void handleDisconnectReply(const QString& id, const QJsonValue& result,
                               const QJsonValue& error);
    void handleTerminateReply(const QString& id, const QJsonValue& result,
                              const QJsonValue& error);
    void handleStartReply(const QString& id, const QJsonValue& result, const QJsonValue& error,
                          const QString& sessionId, const QString& displayName);
    void handleConnectReply(const QString& id, const QJsonValue& result, const QJsonValue& error,
                            const QString& sessionId, const QString& displayName);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs the session display for a successful start or connect reply.
    void startDisplay(const QJsonObject& result, const QString& sessionId,
                      const QString& displayName);
    // A display started here is gone: a closed window's login ends with its last one.
    void displayDestroyed();
    void closeLogin();

    // A disconnect or terminate reply: refreshes the list on success,
    // reports the server's refusal under the given summary.
    void handleSessionChangeReply(const QString& id, const QJsonValue& result,
                                  const QJsonValue& error, const QString& failureSummary);
    Session selectedSession() const;
    void placeButtons();
    void hideButtons();
    // Row buttons that have just appeared or moved let presses through to the
    // row until the double-click interval is over.
    void holdButtonPresses();
    void releaseButtonPresses();

    PendingCalls m_calls;
    // Displays started here that still exist; they reach their sessions
    // through this login's forward.
    int m_displays = 0;
    SessionModel* m_model;
    QSortFilterProxyModel* m_proxy;
    QTableView* m_view;
    QPushButton* m_bookmarkButton;
    QPushButton* m_logButton;
    QPushButton* m_newSessionButton;
    QPushButton* m_connectButton;
    QPushButton* m_disconnectButton;
    QPushButton* m_editButton;
    QPushButton* m_terminateButton;
    QTimer* m_buttonHold;
};
