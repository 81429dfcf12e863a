#pragma once

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QPushButton;

// Confirmation dialog whose accept and reject buttons the caller supplies.
class QuestionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit QuestionDialog(QWidget* parent = nullptr);

    void setText(const QString& text);
    QPushButton* addAcceptButton(const QString& text);
    QPushButton* addRejectButton(const QString& text);

private:
    QLabel* m_label;
    QDialogButtonBox* m_buttonBox;
};
