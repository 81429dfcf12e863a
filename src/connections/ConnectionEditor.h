#pragma once

#include "Connection.h"

#include <QDialog>

class QAbstractButton;
class QCheckBox;
class QDialogButtonBox;
class QLineEdit;

// Dialog in which the user fills in or changes one connection. It never
// touches files: the caller reads connection() and saveAsGlobal() once the
// dialog is accepted.
class ConnectionEditor : public QDialog
{
    Q_OBJECT

public:
    explicit ConnectionEditor(const Connection& connection, QWidget* parent = nullptr);

    void addGlobalButton();
    Connection connection() const { return m_connection; }
    bool saveAsGlobal() const { return m_saveAsGlobal; }

public slots:
    void done(int result) override;

private slots:
    void on_NameLineEdit_textChanged();
    void on_HostLineEdit_textChanged();
    void on_PortLineEdit_textChanged();
    void on_ButtonBox_clicked(QAbstractButton* button);

private:
    bool isAcceptable() const;
    void updateSaveButton();
    void reset();

    Connection m_connection;
    bool m_saveAsGlobal = false;
    QLineEdit* m_name;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_user;
    QLineEdit* m_sci;
    QCheckBox* m_fips;
    QDialogButtonBox* m_buttonBox;
};
