#pragma once

#include <QDialog>

class QTextBrowser;

// Shows a piece of text, in practice the ssh log of one connection; the view
// follows the end as text is appended.
class LogDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LogDialog(QWidget* parent = nullptr);

public slots:
    void append(const QString& text);

private:
    QTextBrowser* m_browser;
};
