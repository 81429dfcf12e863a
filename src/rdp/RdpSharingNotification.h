#pragma once

#include <QWidget>

class QLabel;

// The banner that tells who joined, left or took control of a shared session.
class RdpSharingNotification : public QWidget
{
    Q_OBJECT

public:
    explicit RdpSharingNotification(QWidget* parent = nullptr);

    // Takes the height the text needs at the banner's width, at most 300 pixels.
    void setText(const QString& text);
    QString text() const;

private:
    QLabel* m_label;
};
