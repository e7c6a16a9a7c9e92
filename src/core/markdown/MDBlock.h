#pragma once

#include <QMetaType>
#include <QString>

class QDebug;

// One block of a reply: fenced code, a heading, a list item, a quoted line or
// a paragraph. Only the fields of its kind carry meaning; the others keep
// their defaults so that equality can compare every field.
struct MDBlock {
    enum class Kind { Code, Heading, Bullet, Quote, Paragraph };

    Kind kind = Kind::Paragraph;
    QString lang; // code: what followed the opening fence, trimmed
    QString body; // code: the lines between the fences, joined with "\n"
    int level = 0; // heading: 1 to 6
    QString marker; // bullet: "•", or the numeral followed by "."
    int indent = 0; // bullet: leading spaces / 2
    QString text; // heading, bullet, quote and paragraph text
    // code: these lines go on a code block whose earlier lines were read
    // before (a parse resumed inside an open fence), so they start no panel.
    bool continued = false;

    static MDBlock code(const QString &lang, const QString &body);
    static MDBlock heading(int level, const QString &text);
    static MDBlock bullet(const QString &marker, const QString &text, int indent);
    static MDBlock quote(const QString &text);
    static MDBlock paragraph(const QString &text);

    // A readable form, for debugging and test failure messages.
    QString describe() const;

    friend bool operator==(const MDBlock &, const MDBlock &) = default;
};

QDebug operator<<(QDebug debug, const MDBlock &block);

Q_DECLARE_METATYPE(MDBlock)
