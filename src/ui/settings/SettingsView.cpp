#include "ui/settings/SettingsView.h"

#include "core/conversation/SystemPrompt.h"
#include "core/hotkey/HotKeyStatus.h"
#include "ui/style/Palette.h"
#include "ui/style/ViewStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int dialogWidth = 440;
constexpr int editorHeight = 120;

QLabel *makeLabel(const QString &text, const QFont &font, QWidget *parent, bool wraps = false)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setWordWrap(wraps);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(wraps);
    label->setSizePolicy(policy);
    return label;
}

QVBoxLayout *makeGroup(QWidget *group, int spacing)
{
    auto *column = new QVBoxLayout(group);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

} // namespace

SettingsView::SettingsView(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings"));
    setFixedWidth(dialogWidth);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(22, 22, 22, 22);
    column->setSpacing(14);
    column->addWidget(makeLabel(QStringLiteral("Settings"), ViewStyle::title2(font()), this));
    column->addWidget(makePromptGroup());
    column->addWidget(makeShortcutGroup());

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setAccessibleName(m_done->text());
    m_done->setDefault(true);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(m_done);
    column->addLayout(buttons);

    applyColors();
    connect(&HotKeyStatus::shared(), &HotKeyStatus::registeredChanged, this, &SettingsView::followHotKey);
    followHotKey();
}

QWidget *SettingsView::makePromptGroup()
{
    auto *group = new QWidget(this);
    auto *column = makeGroup(group, 6);
    column->addWidget(makeLabel(QStringLiteral("System prompt"), ViewStyle::headline(font()), group));
    m_promptNote = makeLabel(QStringLiteral("Sent with every message. Leave empty for none."),
        ViewStyle::caption(font()), group, true);
    column->addWidget(m_promptNote);

    m_prompt = new QPlainTextEdit(group);
    m_prompt->setObjectName(QStringLiteral("systemPromptEditor"));
    m_prompt->setAccessibleName(QStringLiteral("System prompt"));
    m_prompt->setFont(ViewStyle::body(font()));
    m_prompt->setFixedHeight(editorHeight);
    // Tab moves on, so that the keyboard can leave the editor for "Done".
    m_prompt->setTabChangesFocus(true);
    m_prompt->setPlainText(SystemPrompt::read());
    connect(m_prompt, &QPlainTextEdit::textChanged, this,
        [this] { SystemPrompt::write(m_prompt->toPlainText()); });
    column->addWidget(m_prompt);
    return group;
}

QWidget *SettingsView::makeShortcutGroup()
{
    auto *group = new QWidget(this);
    auto *column = makeGroup(group, 4);
    column->addWidget(makeLabel(QStringLiteral("Global shortcut"), ViewStyle::headline(font()), group));
    column->addWidget(makeLabel(
        QStringLiteral("Control-Alt-Space shows Tolvi from anywhere."), ViewStyle::callout(font()), group));
    m_warning
        = makeLabel(QStringLiteral("This shortcut couldn't be registered. Another app is probably using it."),
            ViewStyle::callout(font()), group, true);
    column->addWidget(m_warning);
    return group;
}

void SettingsView::applyColors()
{
    Palette::setTextColor(m_promptNote, Palette::secondary(this));
    Palette::setTextColor(m_warning, Palette::warning(this));
    const QColor outline = Palette::primary(this, 0.15);
    m_prompt->setStyleSheet(
        QStringLiteral("QPlainTextEdit#systemPromptEditor { border: 1px solid rgba(%1, %2, %3, %4);"
                       " border-radius: 6px; padding: 4px; background-color: palette(base); }")
            .arg(outline.red())
            .arg(outline.green())
            .arg(outline.blue())
            .arg(outline.alpha()));
}

void SettingsView::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void SettingsView::fitHeight()
{
    // Fixed in both directions, like a sheet: no resizing, no maximising.
    const QLayout *column = layout();
    setFixedHeight(column->hasHeightForWidth() ? column->totalHeightForWidth(width())
                                               : column->totalSizeHint().height());
}

void SettingsView::showEvent(QShowEvent *event)
{
    fitHeight();
    QDialog::showEvent(event);
    // Return closes the dialog until the user moves into the editor.
    m_done->setFocus(Qt::OtherFocusReason);
}

void SettingsView::followHotKey()
{
    m_warning->setVisible(!HotKeyStatus::shared().registered());
    if (isVisible()) {
        // Hiding only posts a layout request; the new height is needed now.
        QWidget *group = m_warning->parentWidget();
        group->layout()->invalidate();
        group->updateGeometry();
        layout()->invalidate();
        fitHeight();
    }
}
