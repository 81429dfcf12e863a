#include "StartSessionDialog.h"

#include "BookmarkModel.h"
#include "WindowModeWidget.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

StartSessionDialog::StartSessionDialog(JsonRpcHandler* handler, QWidget* parent)
    : QDialog(parent)
    , m_calls(handler)
    , m_commandLineEdit(new QLineEdit(this))
    , m_windowModeEdit(new WindowModeWidget(this))
    , m_buttonBox(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setObjectName(QStringLiteral("StartSessionDialog"));
    resize(400, 140);
    m_commandLineEdit->setObjectName(QStringLiteral("CommandLineEdit"));
    m_commandLineEdit->setPlaceholderText(QStringLiteral("xterm -ls"));
    m_commandLineEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\S.*")), this));
    m_windowModeEdit->setObjectName(QStringLiteral("WindowModeEdit"));
    m_buttonBox->setObjectName(QStringLiteral("ButtonBox"));

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto* label = new QLabel(tr("<html><head/><body><p>Command<span style=\" "
                                "color:#aa0000;\">*</span></p></body></html>"),
                             this);
    form->addRow(label, m_commandLineEdit);
    form->addRow(m_windowModeEdit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_buttonBox);

    m_buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_commandLineEdit, &QLineEdit::textChanged, this,
            &StartSessionDialog::on_CommandLineEdit_textChanged);

    m_calls.call(QStringLiteral("Zentu.bookmark"),
                 QJsonObject{{QStringLiteral("op"), QStringLiteral("list")}}, this,
                 [this](const QString& id, const QJsonValue& result, const QJsonValue& error) {
                     handleBookmarkReply(id, result, error);
                 });
}

void StartSessionDialog::on_CommandLineEdit_textChanged()
{
    m_buttonBox->button(QDialogButtonBox::Ok)->setEnabled(m_commandLineEdit->hasAcceptableInput());
}

void StartSessionDialog::handleBookmarkReply(const QString& id, const QJsonValue& result,
                                             const QJsonValue&)
{
    m_calls.remove(id);
    if (!result.isObject())
        return;
    const QJsonObject reply = result.toObject();
    const QList<Bookmark> lists[] = {
        BookmarkModel::entries(reply, BookmarkModel::listKey(BookmarkModel::Suggestions)),
        BookmarkModel::entries(reply, BookmarkModel::listKey(BookmarkModel::Bookmarks)),
        BookmarkModel::entries(reply, BookmarkModel::listKey(BookmarkModel::History)),
    };
    const QString headings[] = {tr("Suggestions"), tr("Bookmarks"), tr("History")};

    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("BookmarkButtonMenu"));
    connect(menu, &QMenu::triggered, this, &StartSessionDialog::on_BookmarkButtonMenu_triggered);
    for (int list = 0; list < 3; ++list) {
        if (lists[list].isEmpty())
            continue;
        menu->addAction(headings[list])->setEnabled(false);
        for (const Bookmark& entry : lists[list]) {
            const QString mode = entry.isRootless() ? tr("Single Application") : entry.geometry();
            const QString text = entry.name().isEmpty()
                ? tr("   %1 (%2)").arg(entry.command(), mode)
                : tr("   %1").arg(entry.name());
            // Entry texts are not mnemonics.
            QAction* action = menu->addAction(QString(text).replace(QLatin1Char('&'),
                                                                    QLatin1String("&&")));
            action->setData(entry.id());
        }
    }
    delete m_suggestionsButton;
    delete m_menu;
    if (menu->actions().isEmpty()) {
        delete menu;
    } else {
        m_menu = menu;
        m_suggestionsButton = m_buttonBox->addButton(tr("Suggestions"), QDialogButtonBox::ActionRole);
        m_suggestionsButton->setObjectName(QStringLiteral("SuggestionsButton"));
        m_suggestionsButton->setMenu(menu);
    }
    m_entries = lists[0] + lists[1] + lists[2];
}

void StartSessionDialog::on_BookmarkButtonMenu_triggered(QAction* action)
{
    const QString id = action->data().toString();
    for (const Bookmark& entry : qAsConst(m_entries)) {
        if (entry.id() != id)
            continue;
        m_command = entry.command();
        m_geometry = entry.geometry();
        m_name = entry.name();
        m_commandLineEdit->setText(entry.command());
        m_windowModeEdit->setValue(entry.geometry());
        return;
    }
}

void StartSessionDialog::done(int r)
{
    if (r == QDialog::Accepted) {
        if (!m_commandLineEdit->hasAcceptableInput())
            return;
        if (m_commandLineEdit->text() != m_command || m_windowModeEdit->value() != m_geometry)
            m_name.clear();
        m_command = m_commandLineEdit->text();
        m_geometry = m_windowModeEdit->value();
    }
    QDialog::done(r);
}
