#include "AboutDialog.h"

#include "Installation.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QSpacerItem>
#include <QUrl>

namespace {

struct Component
{
    const char* name;
    const char* homePage;
    const char* licenceFile;
};

// The components this build really contains; the licence files are made from
// their copyright notices when the program is built.
const Component Components[] = {
    {"Qt", "https://www.qt.io", "Qt%20License.html"},
    {"FreeRDP", "https://www.freerdp.com", "FreeRDP%20License.html"},
    {"OpenSSH", "https://www.openssh.com", "OpenSSH%20License.html"},
    {"OpenSSL", "https://www.openssl.org", "OpenSSL%20License.html"},
    {"Ion Icons", "https://ionic.io/ionicons", "Ion%20Icons%20License.html"},
};

const QString LinkStyle =
    QStringLiteral("font-size:medium; text-decoration:underline; color:#0000ff;");

QLabel* makeTextLabel(const QString& objectName, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                   | Qt::LinksAccessibleByMouse);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
    , m_logo(new QLabel(this))
    , m_productInformation(makeTextLabel(QStringLiteral("labelProductInformation"), this))
    , m_contributions(makeTextLabel(QStringLiteral("labelContributions"), this))
{
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(tr("About %1").arg(QCoreApplication::applicationName()));
    resize(640, 440);
    m_logo->setObjectName(QStringLiteral("labelLogo"));
    m_logo->setPixmap(QPixmap(QStringLiteral(":/images/resources/Zentu_logo.png")));

    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->addWidget(m_logo, 0, 0, 5, 1, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(m_productInformation, 0, 1);
    grid->addWidget(m_contributions, 1, 1);
    grid->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding), 4, 1);

    m_productInformation->setText(
        QStringLiteral(
            "<html><head><style>a { text-decoration:underline; color:#0000ff; }</style></head>"
            "<body><span style=\"font-size:x-large; font-weight:bold;\">%1</span><br>"
            "<span style=\"font-size:medium;\">%2</span><br>"
            "<span style=\"font-size:medium;\">%3</span><br>"
            "<a href=\"%4\"><span style=\"%5\">%6</span></a></body></html>")
            .arg(QStringLiteral("Zentu"), QCoreApplication::applicationVersion(),
                 tr("Copyright \u00a9 Talvene. All rights reserved."),
                 QStringLiteral("https://www.talvene.com"), LinkStyle,
                 QStringLiteral("Talvene")));
    m_contributions->setText(
        contributionsHtml(licenceDirectory(QCoreApplication::applicationDirPath())));
}

QString AboutDialog::contributionsHtml(const QString& licenceDirectory)
{
    // The file names are already URL-encoded, so they are appended to the
    // encoded directory URL rather than passed through QUrl again.
    const QString directoryUrl = QUrl::fromLocalFile(licenceDirectory).toString(QUrl::FullyEncoded);
    QStringList lines;
    for (const Component& component : Components) {
        lines.append(
            QStringLiteral("<a href=\"%1\"><span style=\"%5\">%2</span></a>"
                           "<span style=\"font-size:medium;\"> [</span>"
                           "<a href=\"%3\"><span style=\"%5\">%4</span></a>"
                           "<span style=\"font-size:medium;\">]</span>")
                .arg(QLatin1String(component.homePage), QLatin1String(component.name),
                     directoryUrl + QLatin1Char('/') + QLatin1String(component.licenceFile),
                     tr("license"), LinkStyle));
    }
    return QStringLiteral("<html><body><span style=\"font-size:medium; font-weight:bold;\">%1"
                          "</span><br>%2</body></html>")
        .arg(tr("Open Source Software"), lines.join(QStringLiteral("<br>")));
}
