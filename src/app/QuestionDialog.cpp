#include "QuestionDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

QuestionDialog::QuestionDialog(QWidget* parent)
    : QDialog(parent)
    , m_label(new QLabel(this))
    , m_buttonBox(new QDialogButtonBox(Qt::Horizontal, this))
{
    setObjectName(QStringLiteral("QuestionDialog"));
    resize(300, 125);
    m_label->setObjectName(QStringLiteral("QuestionLabel"));
    m_label->setText(tr("Questions?"));
    // Questions quote names from connection files and from the server:
    // shown as they are, never as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_buttonBox->setObjectName(QStringLiteral("ButtonBox"));

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_label, 0, 0);
    layout->addWidget(m_buttonBox, 1, 0);

    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void QuestionDialog::setText(const QString& text)
{
    m_label->setText(text);
}

QPushButton* QuestionDialog::addAcceptButton(const QString& text)
{
    return m_buttonBox->addButton(text, QDialogButtonBox::AcceptRole);
}

QPushButton* QuestionDialog::addRejectButton(const QString& text)
{
    return m_buttonBox->addButton(text, QDialogButtonBox::RejectRole);
}
