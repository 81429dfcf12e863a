#include "JoinSessionDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace {

QString requiredLabel(const QString& word)
{
    return QStringLiteral("<p>%1<span style=\" color:#aa0000;\">*</span></p>").arg(word);
}

bool isAcceptableInput(const QLineEdit* edit)
{
    QString text = edit->text();
    int position = 0;
    return edit->validator()->validate(text, position) == QValidator::Acceptable;
}

} // namespace

JoinSessionDialog::JoinSessionDialog(QWidget* parent)
    : QDialog(parent)
    , m_idEdit(new QLineEdit(this))
    , m_keyEdit(new QLineEdit(this))
    , m_fipsBox(new QCheckBox(tr("FIPS compliant mode"), this))
    , m_buttonBox(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setObjectName(QStringLiteral("JoinSessionDialog"));
    resize(400, 172);
    setWindowTitle(tr("Join Session"));
    m_idEdit->setObjectName(QStringLiteral("IdLineEdit"));
    m_idEdit->setPlaceholderText(QStringLiteral("joe"));
    m_keyEdit->setObjectName(QStringLiteral("SharingKeyLineEdit"));
    m_fipsBox->setObjectName(QStringLiteral("FipsCheckBox"));
    m_buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    m_buttonBox->setOrientation(Qt::Horizontal);

    auto* nameLabel = new QLabel(requiredLabel(tr("Your Name")), this);
    nameLabel->setObjectName(QStringLiteral("label_2"));
    auto* keyLabel = new QLabel(requiredLabel(tr("Sharing Key")), this);
    keyLabel->setObjectName(QStringLiteral("label"));
    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    auto* form = new QFormLayout();
    form->setObjectName(QStringLiteral("formLayout"));
    form->addRow(nameLabel, m_idEdit);
    form->addRow(keyLabel, m_keyEdit);
    form->addRow(m_fipsBox);
    grid->addLayout(form, 0, 0);
    grid->addWidget(m_buttonBox, 1, 0);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const QRegularExpression required(QStringLiteral("\\S.*"));
    m_idEdit->setValidator(new QRegularExpressionValidator(required, m_idEdit));
    m_keyEdit->setValidator(new QRegularExpressionValidator(required, m_keyEdit));
    // Nothing offers the FIPS choice when joining.
    m_fipsBox->hide();
    m_buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    QMetaObject::connectSlotsByName(this);
    m_idEdit->setText(QString::fromLocal8Bit(qgetenv("USER")));
}

bool JoinSessionDialog::isComplete() const
{
    return isAcceptableInput(m_idEdit) && isAcceptableInput(m_keyEdit);
}

void JoinSessionDialog::on_IdLineEdit_textChanged()
{
    m_buttonBox->button(QDialogButtonBox::Ok)->setEnabled(isComplete());
}

void JoinSessionDialog::on_SharingKeyLineEdit_textChanged()
{
    m_buttonBox->button(QDialogButtonBox::Ok)->setEnabled(isComplete());
}

void JoinSessionDialog::done(int result)
{
    if (result == QDialog::Accepted) {
        if (!isComplete())
            return;
        m_name = m_idEdit->text();
        m_sharingKey = m_keyEdit->text();
        m_fips = m_fipsBox->isChecked();
    }
    QDialog::done(result);
}
