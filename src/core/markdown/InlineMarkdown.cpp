#include "core/markdown/InlineMarkdown.h"

#include "core/markdown/InlineNodes.h"

namespace InlineMarkdown {
namespace {

using detail::Node;
using detail::Tag;

void appendEscaped(QString &html, QStringView text)
{
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            html += u"&amp;";
            break;
        case u'<':
            html += u"&lt;";
            break;
        case u'>':
            html += u"&gt;";
            break;
        case u'"':
            html += u"&quot;";
            break;
        case u'\'':
            html += u"&#39;";
            break;
        case u'\n':
            html += u"<br>";
            break;
        default:
            html += c;
        }
    }
}

class Writer
{
public:
    explicit Writer(const QString &source)
        : m_source(source)
    {
    }

    Rendering write(const QList<Node> &nodes)
    {
        // pre-wrap keeps runs of spaces and tabs and still wraps long lines.
        m_out.html.reserve(m_source.size() + 64);
        m_out.html += u"<span style=\"white-space:pre-wrap\">";
        for (qsizetype i = 0; i < nodes.size(); ++i)
            writeNode(nodes[i], i + 1 < nodes.size() ? &nodes[i + 1] : nullptr);
        m_out.html += u"</span>";
        return std::move(m_out);
    }

private:
    void text(QStringView text)
    {
        appendEscaped(m_out.html, text);
        m_out.plainText += text;
    }

    void writeNode(const Node &node, const Node *next)
    {
        switch (node.kind) {
        case Node::Kind::Text:
            text(source(node));
            break;
        case Node::Kind::LineBreak:
            text(u"\n");
            break;
        case Node::Kind::Code:
            m_out.html += u"<code>";
            text(source(node));
            m_out.html += u"</code>";
            break;
        case Node::Kind::Delimiter:
            writeDelimiter(node);
            break;
        case Node::Kind::LinkStart:
            writeLinkStart(node, next);
            break;
        case Node::Kind::LinkEnd:
            m_out.html += u"</a>";
            break;
        }
    }

    void writeDelimiter(const Node &node)
    {
        for (Tag tag : node.closes)
            m_out.html += tag == Tag::Strong ? u"</strong>" : u"</em>";
        text(QString(node.length, node.marker));
        for (Tag tag : node.opens)
            m_out.html += tag == Tag::Strong ? u"<strong>" : u"<em>";
    }

    void writeLinkStart(const Node &node, const Node *next)
    {
        if (node.url.isEmpty()) {
            text(u"[");
            return;
        }
        m_out.html += u"<a href=\"";
        appendEscaped(m_out.html, node.url);
        m_out.html += u"\">";
        // A link with no text would be invisible: show where it goes.
        if (next && next->kind == Node::Kind::LinkEnd)
            text(node.url);
    }

    QStringView source(const Node &node) const
    {
        return QStringView(m_source).sliced(node.start, node.length);
    }

    const QString &m_source;
    Rendering m_out;
};

} // namespace

Rendering render(const QString &text)
{
    return Writer(text).write(detail::scan(text));
}

QString toHtml(const QString &text)
{
    return render(text).html;
}

QString toPlainText(const QString &text)
{
    return render(text).plainText;
}

bool isAllowedLink(const QString &url)
{
    return url.startsWith(u"http://", Qt::CaseInsensitive) || url.startsWith(u"https://", Qt::CaseInsensitive)
        || url.startsWith(u"mailto:", Qt::CaseInsensitive);
}

} // namespace InlineMarkdown
