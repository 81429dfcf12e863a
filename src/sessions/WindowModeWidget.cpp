#include "WindowModeWidget.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>

WindowModeWidget::WindowModeWidget(QWidget* parent)
    : QWidget(parent)
    , m_singleApplicationBox(new QCheckBox(tr("Single Application"), this))
    , m_geometryLineEdit(new QLineEdit(this))
{
    m_singleApplicationBox->setObjectName(QStringLiteral("SingleApplicationBox"));
    m_geometryLineEdit->setObjectName(QStringLiteral("GeometryLineEdit"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_singleApplicationBox, 0, 0);
    layout->addWidget(m_geometryLineEdit, 0, 1);
    connect(m_singleApplicationBox, &QCheckBox::toggled, m_geometryLineEdit,
            &QLineEdit::setDisabled);
    connect(m_singleApplicationBox, &QCheckBox::toggled, this,
            &WindowModeWidget::on_SingleApplicationBox_toggled);
}

QString WindowModeWidget::value() const
{
    if (m_singleApplicationBox->isChecked())
        return QStringLiteral("rootless");
    if (m_geometryLineEdit->hasAcceptableInput())
        return m_geometryLineEdit->text();
    return QString();
}

void WindowModeWidget::setValue(const QString& value)
{
    m_singleApplicationBox->setChecked(value == QLatin1String("rootless"));
    if (!m_singleApplicationBox->isChecked())
        m_geometryLineEdit->setText(value);
}

void WindowModeWidget::on_SingleApplicationBox_toggled(bool checked)
{
    if (checked)
        return;
    m_geometryLineEdit->selectAll();
    m_geometryLineEdit->setFocus();
}
