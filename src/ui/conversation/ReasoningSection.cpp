#include "ui/conversation/ReasoningSection.h"

#include "ui/conversation/ConversationStyle.h"
#include "ui/style/Palette.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

constexpr int chevronSize = 8;
constexpr int chevronGap = 6;
constexpr int ringPadding = 3; // room for the focus ring around the line
constexpr int barWidth = 2;
constexpr int barGap = 12; // from the bar's left edge to the text

const QString name = QStringLiteral("Reasoning");

// Qt's button interface knows nothing of folding; this one says whether the
// reasoning is open, and pressing it opens or folds it.
class ToggleAccessible : public QAccessibleWidget
{
public:
    explicit ToggleAccessible(QAbstractButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const bool open = button()->isChecked();
        state.expandable = true;
        state.expanded = open;
        state.collapsed = !open;
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList{ pressAction(), toggleAction() } + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action == pressAction() || action == toggleAction())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

QAccessibleInterface *toggleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("ReasoningToggle") && object && object->isWidgetType())
        return new ToggleAccessible(static_cast<QAbstractButton *>(object));
    return nullptr;
}

void installToggleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(toggleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

// ---- the section -------------------------------------------------------------

ReasoningSection::ReasoningSection(QWidget *parent)
    : QWidget(parent)
    , m_toggle(new ReasoningToggle(this))
    , m_body(new ReasoningText(this))
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    stack->addWidget(m_toggle, 0, Qt::AlignLeft);
    stack->addWidget(m_body);

    m_body->setFont(ConversationStyle::callout(m_body->font()));
    m_body->setTextRole(Palette::secondaryRole);
    m_body->setPadding(QMargins(barGap, 0, 0, 0));
    m_body->setAccessibleName(QStringLiteral("Reasoning text"));

    connect(m_toggle, &QAbstractButton::clicked, this, [this](bool open) {
        m_choice = open;
        applyOpen();
    });
    applyOpen();
}

SelectableText *ReasoningSection::body() const
{
    return m_body;
}

void ReasoningSection::setReasoning(const QString &text, std::optional<double> seconds)
{
    // Streamed reasoning only ever grows: the new end goes in after what
    // is there, and only the last paragraph is laid out again.
    const bool grew
        = text.size() > m_shown.size() && QStringView(text).first(m_shown.size()) == QStringView(m_shown);
    if (grew) {
        const QStringView added = QStringView(text).sliced(m_shown.size());
        QTextCursor end(m_body->document());
        end.movePosition(QTextCursor::End);
        end.insertText(added.toString());
        m_inserted += added.size();
    } else if (text != m_shown) {
        m_body->setPlainText(text);
        m_inserted += text.size();
    }
    m_shown = text;
    if (seconds != m_seconds) {
        m_seconds = seconds;
        applyOpen();
    }
}

bool ReasoningSection::isOpen() const
{
    return m_choice.value_or(!m_seconds.has_value());
}

void ReasoningSection::setChoice(std::optional<bool> open)
{
    m_choice = open;
    applyOpen();
}

QString ReasoningSection::line() const
{
    if (!m_seconds)
        return name;
    const long whole = std::max(1L, std::lround(*m_seconds));
    return QStringLiteral("Reasoned for %1 s").arg(whole);
}

void ReasoningSection::applyOpen()
{
    const bool open = isOpen();
    const bool changed = open != m_toggle->isChecked();
    m_toggle->setChecked(open);
    m_body->setVisible(open);
    const QString shown = line();
    if (shown != m_toggle->text()) {
        m_toggle->setText(shown);
        m_toggle->setAccessibleDescription(shown == name ? QString() : shown);
    }
    if (changed) {
        QAccessible::State states;
        states.expanded = true;
        states.collapsed = true;
        QAccessibleStateChangeEvent event(m_toggle, states);
        QAccessible::updateAccessibility(&event);
        update();
    }
}

void ReasoningSection::paintEvent(QPaintEvent *)
{
    if (m_body->isHidden())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::secondary(this, 0.35));
    const QRect text = m_body->geometry();
    painter.drawRoundedRect(QRectF(text.left() + 1, text.top(), barWidth, text.height()), 1, 1);
}

// ---- the line ----------------------------------------------------------------

ReasoningToggle::ReasoningToggle(QWidget *parent)
    : QAbstractButton(parent)
{
    installToggleFactory();
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFont(ConversationStyle::callout(font()));
    setAccessibleName(name);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ReasoningToggle::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = chevronSize + chevronGap + metrics.horizontalAdvance(text());
    return { width + 2 * ringPadding, qMax(metrics.height(), chevronSize) + 2 * ringPadding };
}

void ReasoningToggle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = underMouse() ? Palette::primary(this) : Palette::secondary(this);

    // A chevron that points at the text when folded and down when open.
    const QRectF box(ringPadding, (height() - chevronSize) / 2.0, chevronSize, chevronSize);
    QPainterPath chevron;
    if (isChecked()) {
        chevron.moveTo(box.left() + 0.5, box.top() + 2.5);
        chevron.lineTo(box.center().x(), box.bottom() - 2);
        chevron.lineTo(box.right() - 0.5, box.top() + 2.5);
    } else {
        chevron.moveTo(box.left() + 2.5, box.top() + 0.5);
        chevron.lineTo(box.right() - 2, box.center().y());
        chevron.lineTo(box.left() + 2.5, box.bottom() - 0.5);
    }
    painter.setPen(QPen(ink, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(chevron);

    painter.setFont(font());
    painter.setPen(ink);
    const QRect text = rect().adjusted(ringPadding + chevronSize + chevronGap, 0, -ringPadding, 0);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, this->text());

    if (hasFocus()) {
        painter.setPen(QPen(Palette::accent(this), 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
    }
}

void ReasoningToggle::keyPressEvent(QKeyEvent *event)
{
    // Space is the button's own; Return and Enter press it too, as on a
    // disclosure line elsewhere.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

// ---- the text ----------------------------------------------------------------

QSize ReasoningText::sizeHint() const
{
    const int width = testAttribute(Qt::WA_Resized) ? this->width() : fontMetrics().averageCharWidth() * 80;
    return { width, heightForWidth(width) };
}
