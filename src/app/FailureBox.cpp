#include "FailureBox.h"

#include <QCoreApplication>
#include <QMessageBox>

QMessageBox* showFailureBox(const QString& summary, const QString& detail,
                            const QString& detailedText)
{
    auto* box = new QMessageBox(QMessageBox::Warning,
                                QCoreApplication::translate("FailureBox", "%1 Error")
                                    .arg(QCoreApplication::applicationName()),
                                QStringLiteral("%1<br><br>%2")
                                    .arg(summary.toHtmlEscaped(), detail.toHtmlEscaped()),
                                QMessageBox::Close, nullptr,
                                Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box->setTextFormat(Qt::RichText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    if (!detailedText.isEmpty())
        box->setDetailedText(detailedText);
    box->show();
    return box;
}
