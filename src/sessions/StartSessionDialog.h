#pragma once

#include "Bookmark.h"
#include "PendingCalls.h"

#include <QDialog>
#include <QJsonValue>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QPushButton>

class QAction;
class QDialogButtonBox;
class QLineEdit;
class WindowModeWidget;

// Asks for the command line and window mode of a new session, offering the
// server's suggestions, the bookmarks and the history in a menu.
class StartSessionDialog : public QDialog
{
    Q_OBJECT

public:
    StartSessionDialog(JsonRpcHandler* handler, QWidget* parent);

    // Valid after acceptance; the name is kept only while the fields still
    // hold the picked entry.
    const QString& command() const { return m_command; }
    const QString& geometry() const { return m_geometry; }
    const QString& name() const { return m_name; }

    const QList<Bookmark>& entries() const { return m_entries; }
    QMenu* suggestionsMenu() const { return m_menu; }
    QPushButton* suggestionsButton() const { return m_suggestionsButton; }

public slots:
    void done(int r) override;
    void on_CommandLineEdit_textChanged();
    void on_BookmarkButtonMenu_triggered(QAction* action);

public:
    void handleBookmarkReply(const QString& id, const QJsonValue& result, const QJsonValue& error);

private:
    PendingCalls m_calls;
    QList<Bookmark> m_entries;
    QPointer<QPushButton> m_suggestionsButton;
    QPointer<QMenu> m_menu;
    QString m_command;
    QString m_geometry;
    QString m_name;
    QLineEdit* m_commandLineEdit;
    WindowModeWidget* m_windowModeEdit;
    QDialogButtonBox* m_buttonBox;
};
