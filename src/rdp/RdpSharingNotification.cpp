#include "RdpSharingNotification.h"

#include <QGridLayout>
#include <QLabel>

#include <algorithm>

RdpSharingNotification::RdpSharingNotification(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("RdpSharingNotification"));
    setAttribute(Qt::WA_StyledBackground, true);
    resize(300, 25);
    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setWordWrap(true);
    // Server-given names must not turn into markup.
    m_label->setTextFormat(Qt::PlainText);
    grid->addWidget(m_label, 0, 0);
    setStyleSheet(QStringLiteral("background-color: rgb(85,170,255);\n"
                                 "background: rgb(85,170,255);\n"
                                 "color: white;"));
}

void RdpSharingNotification::setText(const QString& text)
{
    m_label->setText(text);
    resize(width(), std::min(300, layout()->totalHeightForWidth(width())));
}

QString RdpSharingNotification::text() const
{
    return m_label->text();
}
