#include "ui/conversation/MessageRow.h"

#include "ui/conversation/ConversationStyle.h"
#include "ui/conversation/MessageBubble.h"
#include "ui/input/DataURLImage.h"
#include "ui/markdown/AnswerView.h"
#include "ui/markdown/FlowRowLayout.h"
#include "ui/markdown/WrappingLabel.h"
#include "ui/style/PaletteFollower.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString userRole = QStringLiteral("user");

QIcon footerIcon(const char *name, const QWidget *widget)
{
    return ConversationStyle::tintedSymbol(name, ConversationStyle::secondary(widget), 12);
}

QToolButton *makeFooterButton(const QString &text, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIconSize(QSize(12, 12));
    button->setFont(ConversationStyle::caption(button->font()));
    button->setText(text);
    button->setAccessibleName(text);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

MessageRow::MessageRow(const ChatMessage &message, QWidget *parent)
    : QWidget(parent)
    , m_message(message)
    , m_isUser(message.role == userRole)
{
    if (m_isUser)
        buildUser();
    else
        buildAnswer();
    render();
}

void MessageRow::buildUser()
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    // At least 60 wide: a long message still leaves a gap at the left.
    row->addSpacerItem(new QSpacerItem(60, 0, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum));

    auto *stack = new QVBoxLayout;
    stack->setSpacing(8);
    m_imageStrip = new QWidget(this);
    m_imageLayout = new QHBoxLayout(m_imageStrip);
    m_imageLayout->setContentsMargins(0, 0, 0, 0);
    m_imageLayout->setSpacing(6);
    m_bubble = new MessageBubble(this);
    stack->addWidget(m_imageStrip, 0, Qt::AlignRight);
    stack->addWidget(m_bubble, 0, Qt::AlignRight);
    row->addLayout(stack);
}

void MessageRow::buildAnswer()
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    m_answer = new AnswerView(this);
    stack->addWidget(m_answer);
    stack->addWidget(makeFooter());
}

QWidget *MessageRow::makeFooter()
{
    auto *footer = new QWidget(this);
    ConversationStyle::useSecondaryText(footer);
    // Long model names and notes wrap, and the buttons move to the next
    // line rather than past the edge.
    auto *line = new FlowRowLayout(12, 2, footer);

    m_answeredBy = new WrappingLabel(footer);
    m_answeredBy->setFont(ConversationStyle::caption(m_answeredBy->font()));
    m_copyButton = makeFooterButton(QStringLiteral("Copy"), footer);
    m_regenerateButton = makeFooterButton(QStringLiteral("Regenerate"), footer);
    PaletteFollower::follow(footer, [this] { tintFooterIcons(); });
    m_regenerateButton->hide();
    connect(m_copyButton, &QToolButton::clicked, this, &MessageRow::copyText);
    connect(m_regenerateButton, &QToolButton::clicked, this, &MessageRow::regenerateRequested);

    line->addWidget(m_answeredBy);
    line->addWidget(m_copyButton);
    line->addWidget(m_regenerateButton);
    return footer;
}

void MessageRow::setMessage(const ChatMessage &message)
{
    if (message == m_message)
        return;
    m_message = message;
    render();
}

void MessageRow::render()
{
    ++m_renderCount;
    if (m_isUser)
        renderUser();
    else
        renderAnswer();
}

void MessageRow::renderUser()
{
    if (m_message.images != m_shownImages) {
        m_shownImages = m_message.images;
        while (QLayoutItem *item = m_imageLayout->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        for (const QString &url : m_shownImages) {
            auto *image = new DataURLImage(url, m_imageStrip);
            image->setImageSize(QSize(90, 90));
            image->setCornerRadius(10);
            m_imageLayout->addWidget(image);
        }
    }
    m_imageStrip->setVisible(!m_shownImages.isEmpty());
    m_bubble->setText(m_message.text);
    m_bubble->setVisible(!m_message.text.isEmpty());
}

void MessageRow::renderAnswer()
{
    // Its accessible name is the answer's text without markup.
    m_answer->setText(m_message.text);
    const QString label = answerLabel();
    m_answeredBy->setText(label);
    m_answeredBy->setVisible(!label.isEmpty());
}

QString MessageRow::answerLabel() const
{
    if (m_isUser || !m_message.answeredBy)
        return {};
    QString label = QStringLiteral("answered by ") + *m_message.answeredBy;
    if (m_message.note)
        label += QStringLiteral(" · ") + *m_message.note;
    return label;
}

QList<QWidget *> MessageRow::images() const
{
    QList<QWidget *> list;
    if (!m_imageLayout)
        return list;
    for (int i = 0; i < m_imageLayout->count(); ++i)
        list.append(m_imageLayout->itemAt(i)->widget());
    return list;
}

void MessageRow::setIsLast(bool isLast)
{
    m_isLast = isLast;
    updateRegenerate();
}

void MessageRow::setCanRegenerate(bool canRegenerate)
{
    m_canRegenerate = canRegenerate;
    updateRegenerate();
}

void MessageRow::setMarkedWords(const QStringList &foldedWords)
{
    if (m_bubble)
        m_bubble->setMarkedWords(foldedWords);
    if (m_answer)
        m_answer->setMarkedWords(foldedWords);
}

void MessageRow::updateRegenerate()
{
    if (m_regenerateButton)
        m_regenerateButton->setVisible(m_isLast && m_canRegenerate);
}

void MessageRow::copyText()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_message.text);
    setCopied(true);
    // Each copy schedules its own reset; an earlier one still clears the
    // flag when it fires.
    QTimer::singleShot(m_copiedMs, this, [this] { setCopied(false); });
}

void MessageRow::setCopied(bool copied)
{
    if (copied == m_copied)
        return;
    m_copied = copied;
    if (m_copyButton) {
        const QString text = copied ? QStringLiteral("Copied") : QStringLiteral("Copy");
        m_copyButton->setText(text);
        m_copyButton->setAccessibleName(text);
        tintFooterIcons();
    }
    Q_EMIT copiedChanged();
}

// The icons are drawn in the secondary text colour, so they are drawn
// again when the palette changes.
void MessageRow::tintFooterIcons()
{
    m_copyButton->setIcon(footerIcon(m_copied ? "object-select" : "edit-copy", this));
    m_regenerateButton->setIcon(footerIcon("view-refresh", this));
}
