#include "LogDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QTextBrowser>
#include <QTextCursor>

LogDialog::LogDialog(QWidget* parent)
    : QDialog(parent)
    , m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("LogDialog"));
    resize(400, 300);
    m_browser->setObjectName(QStringLiteral("TextBrowser"));
    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttonBox->setObjectName(QStringLiteral("ButtonBox"));

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_browser, 0, 0);
    layout->addWidget(buttonBox, 1, 0);

    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void LogDialog::append(const QString& text)
{
    QTextCursor cursor(m_browser->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    m_browser->setTextCursor(cursor);
}
