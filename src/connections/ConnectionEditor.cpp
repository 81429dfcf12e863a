#include "ConnectionEditor.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace {

const QString GlobalButtonName = QStringLiteral("globalButton");

QString requiredLabel(const QString& word)
{
    return QStringLiteral("<p>%1<span style=\" color:#aa0000;\">*</span></p>").arg(word);
}

QLabel* makeLabel(const QString& objectName, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

QLineEdit* makeLineEdit(const QString& objectName, const QString& placeholder, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setPlaceholderText(placeholder);
    return edit;
}

bool isAcceptableInput(const QLineEdit* edit)
{
    QString text = edit->text();
    int position = 0;
    return edit->validator()->validate(text, position) == QValidator::Acceptable;
}

} // namespace

ConnectionEditor::ConnectionEditor(const Connection& connection, QWidget* parent)
    : QDialog(parent)
    , m_connection(connection)
    , m_name(makeLineEdit(QStringLiteral("NameLineEdit"), QString(), this))
    , m_host(makeLineEdit(QStringLiteral("HostLineEdit"), QStringLiteral("example.com"), this))
    , m_port(makeLineEdit(QStringLiteral("PortLineEdit"), QStringLiteral("22"), this))
    , m_user(makeLineEdit(QStringLiteral("UserLineEdit"), QStringLiteral("joe"), this))
    , m_sci(makeLineEdit(QStringLiteral("SciLineEdit"), QStringLiteral("bin/sci"), this))
    , m_fips(new QCheckBox(tr("FIPS compliant mode"), this))
    , m_buttonBox(new QDialogButtonBox(
          QDialogButtonBox::Save | QDialogButtonBox::Cancel | QDialogButtonBox::Reset, this))
{
    setObjectName(QStringLiteral("ConnectionEditor"));
    resize(300, 250);
    m_fips->setObjectName(QStringLiteral("FipsCheckBox"));
    m_buttonBox->setObjectName(QStringLiteral("ButtonBox"));

    auto* form = new QFormLayout;
    form->setObjectName(QStringLiteral("formLayout"));
    form->addRow(makeLabel(QStringLiteral("NameLabel"), requiredLabel(tr("Name")), this), m_name);
    form->addRow(makeLabel(QStringLiteral("HostLabel"), requiredLabel(tr("Host")), this), m_host);
    form->addRow(makeLabel(QStringLiteral("PortLabel"), requiredLabel(tr("Port")), this), m_port);
    form->addRow(makeLabel(QStringLiteral("UserLabel"), tr("User"), this), m_user);
    form->addRow(makeLabel(QStringLiteral("SciLabel"), tr("Sci"), this), m_sci);
    form->addRow(m_fips);
    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->addLayout(form, 0, 0);
    grid->addWidget(m_buttonBox, 1, 0);

    setTabOrder(m_name, m_host);
    setTabOrder(m_host, m_port);
    setTabOrder(m_port, m_user);
    setTabOrder(m_user, m_sci);
    setTabOrder(m_sci, m_fips);
    setTabOrder(m_fips, m_buttonBox);

    const QRegularExpression required(QStringLiteral("\\S.*"));
    m_name->setValidator(new QRegularExpressionValidator(required, m_name));
    m_host->setValidator(new QRegularExpressionValidator(required, m_host));
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    // The flag is carried through unchanged: the box is filled from the record.
    m_fips->hide();

    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_buttonBox, &QDialogButtonBox::clicked, this, &ConnectionEditor::on_ButtonBox_clicked);
    connect(m_name, &QLineEdit::textChanged, this, &ConnectionEditor::on_NameLineEdit_textChanged);
    connect(m_host, &QLineEdit::textChanged, this, &ConnectionEditor::on_HostLineEdit_textChanged);
    connect(m_port, &QLineEdit::textChanged, this, &ConnectionEditor::on_PortLineEdit_textChanged);

    reset();
    updateSaveButton();
}

void ConnectionEditor::addGlobalButton()
{
    QPushButton* button = m_buttonBox->addButton(tr("Save As Global"), QDialogButtonBox::AcceptRole);
    button->setObjectName(GlobalButtonName);
}

void ConnectionEditor::done(int result)
{
    if (result != QDialog::Accepted) {
        QDialog::done(result);
        return;
    }
    if (!isAcceptable())
        return;
    m_connection.setName(m_name->text());
    m_connection.setHost(m_host->text());
    // The validator accepted the text in its locale, group separators
    // included ("2.222" in German); read it the same way.
    m_connection.setPort(m_port->validator()->locale().toUShort(m_port->text()));
    m_connection.setUser(m_user->text());
    m_connection.setSci(m_sci->text());
    m_connection.setFips(m_fips->isChecked());
    QDialog::done(result);
}

void ConnectionEditor::on_NameLineEdit_textChanged()
{
    updateSaveButton();
}

void ConnectionEditor::on_HostLineEdit_textChanged()
{
    updateSaveButton();
}

void ConnectionEditor::on_PortLineEdit_textChanged()
{
    updateSaveButton();
}

void ConnectionEditor::on_ButtonBox_clicked(QAbstractButton* button)
{
    if (m_buttonBox->buttonRole(button) == QDialogButtonBox::ResetRole) {
        reset();
        return;
    }
    // Only the button that finally accepts decides; an earlier refused
    // "Save As Global" must not turn a later plain Save into a global one.
    m_saveAsGlobal = button->objectName() == GlobalButtonName;
}

bool ConnectionEditor::isAcceptable() const
{
    return isAcceptableInput(m_name) && isAcceptableInput(m_host) && isAcceptableInput(m_port);
}

void ConnectionEditor::updateSaveButton()
{
    m_buttonBox->button(QDialogButtonBox::Save)->setEnabled(isAcceptable());
}

void ConnectionEditor::reset()
{
    m_name->setText(m_connection.name());
    m_host->setText(m_connection.host());
    m_port->setText(QString::number(m_connection.port()));
    m_user->setText(m_connection.user());
    m_sci->setText(m_connection.sci());
    m_fips->setChecked(m_connection.fips());
}
