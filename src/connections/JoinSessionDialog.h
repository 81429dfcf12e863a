#pragma once

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;

// Asks for the name to join under and the sharing key somebody handed out.
class JoinSessionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit JoinSessionDialog(QWidget* parent = nullptr);

    const QString& name() const { return m_name; }
    const QString& sharingKey() const { return m_sharingKey; }
    bool fips() const { return m_fips; }

public slots:
    void done(int result) override;

private slots:
    void on_IdLineEdit_textChanged();
    void on_SharingKeyLineEdit_textChanged();

private:
    bool isComplete() const;

    QLineEdit* m_idEdit;
    QLineEdit* m_keyEdit;
    QCheckBox* m_fipsBox;
    QDialogButtonBox* m_buttonBox;
    QString m_name;
    QString m_sharingKey;
    bool m_fips = false;
};

// Joins the shared session the key names, under the given name: directly
// when the key says so, otherwise through an SSH login of the user's own to
// the sharer's server. A bad key is reported and nothing starts.
void joinSession(const QString& sharingKey, const QString& name, bool fips);
