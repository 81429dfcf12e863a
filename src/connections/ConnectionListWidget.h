#pragma once

#include "Connection.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

class ConnectionModel;
class QModelIndex;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

// The main window: the saved connections with buttons to add, edit, remove
// and open them. It keeps which file each connection came from and a
// registry of the windows it opened per connection, so that opening one twice
// raises the first. Connections of the pinned directory (a demo server's)
// come first and cannot be edited or removed here.
class ConnectionListWidget : public QWidget
{
    Q_OBJECT

public:
    ConnectionListWidget(const QString& userDirectory, const QString& globalDirectory,
                         QWidget* parent = nullptr, bool globalWritable = false,
                         const QString& pinnedDirectory = QString());

    void addConnection(const Connection& connection, bool saveAsGlobal);
    void editConnection(const Connection& connection);
    void removeConnection(const Connection& connection);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_AboutAction_triggered();
    void on_DocumentationAction_triggered();
    void on_AddConnectionButton_clicked();
    void on_JoinSessionButton_clicked();
    void on_EditConnectionButton_clicked();
    void on_RemoveConnectionButton_clicked();
    void on_ConnectionListView_activated(const QModelIndex& index);
    void on_ConnectionListView_selectionChanged();
    void removeWidget(QObject* object);

private:
    // Key of a per-connection window: the braced uid, "-", the suffix.
    static QString windowKey(const QUuid& uid, const QString& suffix);
    // Registers the window under its object name unless that key is taken.
    void registerWindow(QWidget* window);
    // Shows, restores or raises the registered window; false when none.
    bool activateWindow(const QString& key);

    // Logs in to the connection and opens its session window.
    void openConnection(const Connection& connection);

    void loadConnections();
    void openEditor(const Connection& connection);
    void askRemoval(const Connection& connection);
    Connection selectedConnection() const;
    bool isProtected(const Connection& connection) const;
    bool isPinned(const Connection& connection) const;
    void refreshView();
    void selectConnection(const QModelIndex& sourceIndex);
    void placeRowButtons();

    const QString m_userDirectory;
    const QString m_globalDirectory;
    const QString m_pinnedDirectory;
    const bool m_globalWritable;
    ConnectionModel* m_model;
    QSortFilterProxyModel* m_proxy;
    QTableView* m_view;
    ConnectionFileIndex m_files;
    QPushButton* m_editButton;
    QPushButton* m_removeButton;
    QMap<QString, QPointer<QWidget>> m_windows;
};
