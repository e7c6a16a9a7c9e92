#include "ui/sidebar/RenameChatDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

RenameChatDialog::RenameChatDialog(const QUuid &chatId, const QString &title, QWidget *parent)
    : QDialog(parent)
    , m_chatId(chatId)
    , m_field(new QLineEdit(this))
{
    setWindowTitle(tr("Rename chat"));
    setModal(true);

    auto *heading = new QLabel(QStringLiteral("Rename chat"), this);
    heading->setTextFormat(Qt::PlainText);
    QFont headline = heading->font();
    headline.setWeight(QFont::DemiBold);
    heading->setFont(headline);

    m_field->setPlaceholderText(QStringLiteral("Title"));
    m_field->setAccessibleName(QStringLiteral("Title"));
    m_field->setFixedWidth(280);
    m_field->setText(title);
    m_field->selectAll();

    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto *save = new QPushButton(QStringLiteral("Save"), this);
    cancel->setAutoDefault(false);
    save->setDefault(true); // Return in the field presses it
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(save, &QPushButton::clicked, this, [this] {
        Q_EMIT saveRequested(m_chatId, newTitle());
        accept();
    });

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(save);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addWidget(heading);
    column->addWidget(m_field);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);
}

QString RenameChatDialog::newTitle() const
{
    return m_field->text();
}
