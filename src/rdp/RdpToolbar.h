#pragma once

#include <QWidget>

class QPushButton;
struct RdpClientContext;

// The small button bar that slides in over the top edge of the desktop window.
class RdpToolbar : public QWidget
{
    Q_OBJECT

public:
    RdpToolbar(RdpClientContext* context, QWidget* parent);

    void setFullscreenChecked(bool checked);
    void setSharingEnabled(bool enabled);
    void setResizeEnabled(bool enabled);
    void setResizeChecked(bool checked);
    bool isResizeChecked() const;

signals:
    void buttonClicked();
    void fullscreenToggled(bool on);
    void resizeToggled(bool on);

private slots:
    void on_DisconnectButton_clicked();
    void on_FullscreenButton_clicked(bool checked);
    void on_OptionsButton_clicked();
    void on_SharingButton_clicked();
    void on_ResizeButton_clicked(bool checked);

private:
    QPushButton* addButton(const QString& name, const QString& icon, const QString& toolTip);

    RdpClientContext* m_context;
    QPushButton* m_fullscreenButton;
    QPushButton* m_sharingButton;
    QPushButton* m_resizeButton;
};
