#include "ui/signin/SignInView.h"

#include "core/app/AppModel.h"
#include "ui/icons/Icons.h"
#include "ui/style/Contrast.h"
#include "ui/style/Palette.h"
#include "ui/style/ViewStyle.h"
#include "ui/widgets/IssueView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int symbolSize = 44;
constexpr int noticeWidth = 380;
// The issue box's width, the widest part of the column.
constexpr int columnWidth = 420;
constexpr int keyFieldWidth = 260;
constexpr int progressWidth = 180;

QString waitingText(AppModel::SignInState::Wait wait)
{
    // The keyring may be showing its unlock prompt: the person is asked
    // there, not in the browser.
    return wait == AppModel::SignInState::Wait::keyring ? QStringLiteral("Waiting for the system keyring…")
                                                        : QStringLiteral("Waiting for you in the browser…");
}

QLabel *makeLabel(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QVBoxLayout *makeColumn(QWidget *widget, int spacing, int topMargin)
{
    auto *column = new QVBoxLayout(widget);
    column->setContentsMargins(0, topMargin, 0, 0);
    column->setSpacing(spacing);
    return column;
}

} // namespace

SignInView::SignInView(AppModel &app, QWidget *parent)
    : QWidget(parent)
    , m_app(app)
{
    auto *centred = new QHBoxLayout;
    centred->addStretch(1);
    centred->addWidget(makeCentredColumn());
    centred->addStretch(1);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(30, 30, 30, 30);
    outer->setSpacing(0);
    outer->addStretch(1);
    outer->addLayout(centred);
    outer->addStretch(1);

    applyColors();
    connect(&app, &AppModel::signInStateChanged, this, &SignInView::followState);
    connect(&app, &AppModel::showKeyFieldChanged, this, &SignInView::followState);
    connect(&app, &AppModel::noticeChanged, this, &SignInView::followNotice);
    connect(&app, &AppModel::isSignedInChanged, m_keyField, &QLineEdit::clear);
    followState();
    followNotice();
}

QWidget *SignInView::makeCentredColumn()
{
    // One centred column of fixed width. Box layouts work out the height of
    // wrapping text from the width of the whole layout, not from that of a
    // narrower, centred item; so the column is as wide as its widest part
    // and everything in it spans it.
    auto *content = new QWidget(this);
    content->setFixedWidth(columnWidth);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    addHeader(column);

    m_notice = makeLabel(QString(), ViewStyle::body(font()), content);
    m_notice->setWordWrap(true);
    auto *noticeRow = new QHBoxLayout;
    const int noticeInset = (columnWidth - noticeWidth) / 2;
    noticeRow->setContentsMargins(noticeInset, 0, noticeInset, 0);
    noticeRow->addWidget(m_notice);
    column->addLayout(noticeRow);

    m_issue = new IssueView(
        AppIssue(), QStringLiteral("Try again"), [this] { m_app.startOAuth(); }, content);
    column->addWidget(m_issue);
    column->addWidget(makeWorkingBlock());
    column->addWidget(makeIdleBlock());
    return content;
}

void SignInView::addHeader(QBoxLayout *column)
{
    QWidget *content = column->parentWidget();
    m_symbol = new QLabel(content);
    m_symbol->setAlignment(Qt::AlignCenter);
    column->addWidget(m_symbol);

    auto *title = makeLabel(QStringLiteral("Tolvi"), ViewStyle::sized(font(), 34, QFont::DemiBold), content);
    column->addWidget(title);

    m_subtitle = makeLabel(
        QStringLiteral("Free AI chat through your OpenRouter account"), ViewStyle::title3(font()), content);
    column->addWidget(m_subtitle);
}

QWidget *SignInView::makeWorkingBlock()
{
    m_working = new QWidget;
    auto *column = makeColumn(m_working, 10, 6);

    m_progress = new QProgressBar(m_working);
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(progressWidth);
    m_progress->setMaximumHeight(8);
    column->addWidget(m_progress, 0, Qt::AlignHCenter);

    m_waiting = makeLabel(QString(), ViewStyle::body(font()), m_working);
    column->addWidget(m_waiting, 0, Qt::AlignHCenter);

    m_cancel = new QPushButton(QStringLiteral("Cancel"), m_working);
    m_cancel->setAccessibleName(m_cancel->text());
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_app.cancelSignIn(); });
    column->addWidget(m_cancel, 0, Qt::AlignHCenter);
    return m_working;
}

QWidget *SignInView::makeIdleBlock()
{
    m_idle = new QWidget;
    auto *column = makeColumn(m_idle, 18, 6);

    m_signIn = new QPushButton(QStringLiteral("Sign in with OpenRouter"), m_idle);
    m_signIn->setAccessibleName(m_signIn->text());
    m_signIn->setFont(ViewStyle::headline(font()));
    m_signIn->setCursor(Qt::PointingHandCursor);
    m_signIn->setDefault(true);
    connect(m_signIn, &QPushButton::clicked, this, [this] { m_app.startOAuth(); });
    column->addWidget(m_signIn, 0, Qt::AlignHCenter);

    m_keyLink = new QPushButton(QStringLiteral("Use my own API key"), m_idle);
    m_keyLink->setAccessibleName(m_keyLink->text());
    m_keyLink->setFont(ViewStyle::callout(font()));
    m_keyLink->setFlat(true);
    m_keyLink->setCursor(Qt::PointingHandCursor);
    connect(m_keyLink, &QPushButton::clicked, this, &SignInView::openKeyField);
    column->addWidget(m_keyLink, 0, Qt::AlignHCenter);

    column->addWidget(makeKeyRow(m_idle), 0, Qt::AlignHCenter);
    return m_idle;
}

QWidget *SignInView::makeKeyRow(QWidget *parent)
{
    m_keyRow = new QWidget(parent);
    auto *row = new QHBoxLayout(m_keyRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    m_keyField = new QLineEdit(m_keyRow);
    m_keyField->setEchoMode(QLineEdit::Password);
    m_keyField->setPlaceholderText(QStringLiteral("OpenRouter API key"));
    // Named after its purpose; its content never becomes part of a name or
    // a description.
    m_keyField->setAccessibleName(m_keyField->placeholderText());
    m_keyField->setFixedWidth(keyFieldWidth);
    m_keyField->setClearButtonEnabled(false);
    connect(m_keyField, &QLineEdit::textChanged, this, &SignInView::followKeyText);
    connect(m_keyField, &QLineEdit::returnPressed, this, &SignInView::submitKey);
    row->addWidget(m_keyField);

    m_continue = new QPushButton(QStringLiteral("Continue"), m_keyRow);
    m_continue->setAccessibleName(m_continue->text());
    connect(m_continue, &QPushButton::clicked, this, &SignInView::submitKey);
    row->addWidget(m_continue);
    followKeyText();
    return m_keyRow;
}

void SignInView::styleSignInButton()
{
    // The prominent look: filled with the accent colour, rounded, padded
    // 28 at the sides and 6 above and below the label.
    const QColor text = palette().color(QPalette::HighlightedText);
    // Many palettes pair their accent with a text colour that is hard to
    // read on it; the fill gives way, not the text.
    const QColor accent = Contrast::readableOn(Palette::accent(this), text);
    m_signIn->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: %2; border: 2px solid %1;"
                       " border-radius: 8px; padding: 6px 28px; min-height: 20px; }"
                       "QPushButton:hover { background-color: %3; border-color: %3; }"
                       "QPushButton:pressed { background-color: %4; border-color: %4; }"
                       "QPushButton:focus { border-color: %5; }")
            .arg(accent.name(), text.name(), accent.lighter(108).name(), accent.darker(115).name(),
                accent.darker(160).name()));
}

void SignInView::applyColors()
{
    m_symbol->setPixmap(Icons::app().pixmap(QSize(symbolSize, symbolSize), devicePixelRatioF()));
    Palette::setTextColor(m_subtitle, Palette::secondary(this));
    Palette::setTextColor(m_waiting, Palette::secondary(this));
    Palette::setTextColor(m_notice, Palette::warning(this));
    QPalette link = m_keyLink->palette();
    link.setColor(QPalette::ButtonText,
        Contrast::readableOn(palette().color(QPalette::Link), palette().color(QPalette::Window)));
    m_keyLink->setPalette(link);
    styleSignInButton();
}

void SignInView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void SignInView::followState()
{
    const AppModel::SignInState &state = m_app.signInState();
    const bool working = state.phase == AppModel::SignInState::working;
    const bool failed = state.phase == AppModel::SignInState::failed && state.issue;
    if (failed)
        m_issue->setIssue(*state.issue);
    m_waiting->setText(waitingText(state.wait));
    m_progress->setAccessibleName(m_waiting->text());
    m_issue->setVisible(failed);
    m_working->setVisible(working);
    m_idle->setVisible(!working);
    m_keyLink->setVisible(!m_app.showKeyField());
    m_keyRow->setVisible(m_app.showKeyField());
}

void SignInView::followNotice()
{
    const std::optional<QString> &notice = m_app.notice();
    m_notice->setText(notice.value_or(QString()));
    m_notice->setVisible(notice.has_value());
}

void SignInView::followKeyText()
{
    m_continue->setEnabled(!m_keyField->text().trimmed().isEmpty());
}

void SignInView::submitKey()
{
    // The model ignores a blank key too; Return in an empty field is a no-op.
    if (!m_keyField->text().trimmed().isEmpty())
        m_app.useOwnKey(m_keyField->text());
}

void SignInView::openKeyField()
{
    m_app.setShowKeyField(true);
    if (m_keyRow->isVisible())
        m_keyField->setFocus(Qt::OtherFocusReason);
}
