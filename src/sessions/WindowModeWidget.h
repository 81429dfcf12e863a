#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;

// The window mode of a new session: a desktop of a given size, or one
// application shown rootless ("rootless").
class WindowModeWidget : public QWidget
{
    Q_OBJECT

public:
    explicit WindowModeWidget(QWidget* parent);

    QString value() const;
    void setValue(const QString& value);

public slots:
    void on_SingleApplicationBox_toggled(bool checked);

private:
    QCheckBox* m_singleApplicationBox;
    QLineEdit* m_geometryLineEdit;
};
