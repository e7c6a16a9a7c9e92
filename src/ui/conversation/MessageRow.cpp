#include "ui/conversation/MessageRow.h"

#include "core/export/AnswerEnd.h"
#include "ui/conversation/ConversationStyle.h"
#include "ui/conversation/MessageBubble.h"
#include "ui/conversation/ReasoningSection.h"
#include "ui/input/DataURLImage.h"
#include "ui/markdown/AnswerView.h"
#include "ui/style/Palette.h"
#include "ui/style/PaletteFollower.h"
#include "ui/widgets/FlowRowLayout.h"
#include "ui/widgets/WrappingLabel.h"

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
    return ConversationStyle::tintedSymbol(name, Palette::secondary(widget), 12);
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
    m_answerStack = new QVBoxLayout(this);
    m_answerStack->setContentsMargins(0, 0, 0, 0);
    m_answerStack->setSpacing(8);
    m_answer = new AnswerView(this);
    m_answerStack->addWidget(m_answer);
    m_answerStack->addWidget(makeFooter());
}

QWidget *MessageRow::makeFooter()
{
    m_footer = new QWidget(this);
    Palette::useSecondaryText(m_footer);
    // Long model names and notes wrap, and the buttons move to the next
    // line rather than past the edge.
    auto *line = new FlowRowLayout(12, 2, m_footer);

    m_answeredBy = new WrappingLabel(m_footer);
    m_answeredBy->setFont(ConversationStyle::caption(m_answeredBy->font()));
    m_copyButton = makeFooterButton(QStringLiteral("Copy"), m_footer);
    m_regenerateButton = makeFooterButton(QStringLiteral("Regenerate"), m_footer);
    m_continueButton = makeFooterButton(QStringLiteral("Continue"), m_footer);
    PaletteFollower::follow(m_footer, [this] { tintFooterIcons(); });
    m_regenerateButton->hide();
    m_continueButton->hide();
    connect(m_copyButton, &QToolButton::clicked, this, &MessageRow::copyText);
    connect(m_regenerateButton, &QToolButton::clicked, this, &MessageRow::regenerateRequested);
    connect(m_continueButton, &QToolButton::clicked, this, &MessageRow::continueRequested);

    line->addWidget(m_answeredBy);
    line->addWidget(m_copyButton);
    line->addWidget(m_regenerateButton);
    line->addWidget(m_continueButton);
    return m_footer;
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
    const QString reasoning = m_message.reasoning.value_or(QString());
    if (!reasoning.isEmpty() && !m_reasoning) {
        m_reasoning = new ReasoningSection(this);
        m_answerStack->insertWidget(0, m_reasoning);
    }
    if (m_reasoning) {
        m_reasoning->setReasoning(reasoning, m_message.reasoningSeconds);
        m_reasoning->setVisible(!reasoning.isEmpty());
    }
    // Its accessible name is the answer's text without markup. While the
    // model still reasons there is none, and no room is kept for it.
    m_answer->setText(m_message.text);
    m_answer->setVisible(!m_message.text.isEmpty());
    const QString label = answerLabel();
    m_answeredBy->setText(label);
    m_answeredBy->setVisible(!label.isEmpty());
    updateFooter();
}

QString MessageRow::answerLabel() const
{
    if (m_isUser)
        return {};
    QStringList parts;
    if (m_message.answeredBy) {
        parts << QStringLiteral("answered by ") + *m_message.answeredBy;
        if (m_message.note)
            parts << *m_message.note;
    }
    if (m_message.cut)
        parts << AnswerEnd::words(*m_message.cut);
    return parts.join(QStringLiteral(" · "));
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
    updateFooter();
}

void MessageRow::setCanRegenerate(bool canRegenerate)
{
    m_canRegenerate = canRegenerate;
    updateFooter();
}

void MessageRow::setCanContinue(bool canContinue)
{
    m_canContinue = canContinue;
    updateFooter();
}

std::optional<bool> MessageRow::reasoningChoice() const
{
    return m_reasoning ? m_reasoning->choice() : std::nullopt;
}

void MessageRow::setReasoningChoice(std::optional<bool> open)
{
    if (m_reasoning)
        m_reasoning->setChoice(open);
}

void MessageRow::setMarkedWords(const QStringList &foldedWords)
{
    if (m_bubble)
        m_bubble->setMarkedWords(foldedWords);
    if (m_answer)
        m_answer->setMarkedWords(foldedWords);
}

void MessageRow::updateFooter()
{
    if (!m_footer)
        return;
    const bool regenerate = m_isLast && m_canRegenerate;
    m_regenerateButton->setVisible(regenerate);
    m_continueButton->setVisible(regenerate && m_canContinue);
    // Nothing to copy while the model still reasons.
    m_copyButton->setVisible(!m_message.text.isEmpty());
    m_footer->setVisible(!m_answeredBy->isHidden() || !m_copyButton->isHidden() || regenerate);
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
    m_continueButton->setIcon(footerIcon("go-next", this));
}
