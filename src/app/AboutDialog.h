#pragma once

#include <QDialog>

class QLabel;

// Product name and version, the maker, and the open-source components this
// build is made of with links to their licences.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // The HTML listing the components, with licence links into directory.
    static QString contributionsHtml(const QString& licenceDirectory);

private:
    QLabel* m_logo;
    QLabel* m_productInformation;
    QLabel* m_contributions;
};
