#include "RdpToolbar.h"

#include "RdpClientContext.h"
#include "RdpInstance.h"
#include "RdpOptionsDialog.h"
#include "RdpSharingDialog.h"
#include "WindowStyle.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPushButton>

RdpToolbar::RdpToolbar(RdpClientContext* context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
{
    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->setContentsMargins(0, 0, 0, 0);
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    grid->addWidget(frame, 0, 0);
    auto* row = new QHBoxLayout(frame);
    row->setObjectName(QStringLiteral("horizontalLayout"));
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(2);

    row->addWidget(addButton(QStringLiteral("DisconnectButton"), QStringLiteral("pause"),
                             tr("Disconnect the session.")));
    m_resizeButton = addButton(QStringLiteral("ResizeButton"), QStringLiteral("arrow-resize"),
                               tr("Toggle resize mode."));
    m_resizeButton->setCheckable(true);
    // Resizing needs the desktop channel: enabled once it is known to be up.
    m_resizeButton->setEnabled(false);
    row->addWidget(m_resizeButton);
    m_fullscreenButton = addButton(QStringLiteral("FullscreenButton"), QStringLiteral("arrow-expand"),
                                   tr("Toggle fullscreen mode."));
    m_fullscreenButton->setCheckable(true);
    row->addWidget(m_fullscreenButton);
    QPushButton* options = addButton(QStringLiteral("OptionsButton"), QStringLiteral("gear-a"),
                                     tr("Adjust session settings."));
    row->addWidget(options);
    m_sharingButton = addButton(QStringLiteral("SharingButton"), QStringLiteral("android-share-alt"),
                                tr("Show the sharing controls."));
    // Enabled once the sharing channel is up and its dialog exists.
    m_sharingButton->setEnabled(false);
    row->addWidget(m_sharingButton);

    // A light bar of its own, whatever the palette: the icons are black and
    // the bar lies over the remote screen.
    setStyleSheet(QStringLiteral(
        "QFrame#frame { background-color: #F0F0F0; border: 1px solid grey; border-top: none; }\n"
        "QPushButton[myFlat=\"true\"] { border: none; padding: 3px; }\n"
        "QPushButton[myFlat=\"true\"]::menu-indicator { image: none; }\n"
        "QPushButton[myFlat=\"true\"]:hover { border: 1px outset grey; border-radius: 3px; }\n"
        "QPushButton[myFlat=\"true\"]:pressed, QPushButton[myFlat=\"true\"]:checked {"
        " border: 1px outset grey; border-radius: 3px; background-color: darkgrey; }\n"));
    QMetaObject::connectSlotsByName(this);
    adjustSize();
}

QPushButton* RdpToolbar::addButton(const QString& name, const QString& icon, const QString& toolTip)
{
    auto* button = new QPushButton(this);
    button->setObjectName(name);
    button->setFlat(true);
    button->setProperty("myFlat", true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(resourceIcon(QStringLiteral(":/images/resources/%1.svg").arg(icon)));
    button->setToolTip(toolTip);
    return button;
}

void RdpToolbar::setFullscreenChecked(bool checked)
{
    m_fullscreenButton->setChecked(checked);
}

void RdpToolbar::setSharingEnabled(bool enabled)
{
    m_sharingButton->setEnabled(enabled);
}

void RdpToolbar::setResizeEnabled(bool enabled)
{
    m_resizeButton->setEnabled(enabled);
}

void RdpToolbar::setResizeChecked(bool checked)
{
    m_resizeButton->setChecked(checked);
}

bool RdpToolbar::isResizeChecked() const
{
    return m_resizeButton->isChecked();
}

void RdpToolbar::on_DisconnectButton_clicked()
{
    if (m_context->instance)
        QMetaObject::invokeMethod(m_context->instance, "quit", Qt::QueuedConnection);
}

void RdpToolbar::on_FullscreenButton_clicked(bool checked)
{
    emit fullscreenToggled(checked);
}

void RdpToolbar::on_OptionsButton_clicked()
{
    if (RdpOptionsDialog* dialog = m_context->optionsDialog) {
        dialog->setWindowModality(Qt::WindowModal);
        dialog->show();
    }
    emit buttonClicked();
}

void RdpToolbar::on_SharingButton_clicked()
{
    if (RdpSharingDialog* dialog = m_context->sharingDialog) {
        dialog->setWindowModality(Qt::WindowModal);
        dialog->show();
    }
    emit buttonClicked();
}

void RdpToolbar::on_ResizeButton_clicked(bool checked)
{
    emit resizeToggled(checked);
}
