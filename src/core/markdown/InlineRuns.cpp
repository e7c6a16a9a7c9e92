#include "core/markdown/InlineRuns.h"

#include "core/markdown/InlineNodes.h"

namespace InlineMarkdown {
namespace {

using detail::Node;
using detail::Tag;

class RunWriter
{
public:
    explicit RunWriter(const QString &source)
        : m_source(source)
    {
    }

    QList<Run> write(const QList<Node> &nodes)
    {
        for (qsizetype i = 0; i < nodes.size(); ++i)
            writeNode(nodes[i], i + 1 < nodes.size() ? &nodes[i + 1] : nullptr);
        return std::move(m_runs);
    }

private:
    void text(QStringView text, bool code = false)
    {
        if (text.isEmpty()) // a marker that only opened or closed
            return;
        Run look{ {}, m_strong > 0, m_emphasis > 0, code, m_link };
        if (!m_runs.isEmpty() && m_runs.last().sameLook(look)) {
            m_runs.last().text += text;
            return;
        }
        look.text = text.toString();
        m_runs.append(std::move(look));
    }

    void writeNode(const Node &node, const Node *next)
    {
        switch (node.kind) {
        case Node::Kind::Text:
            text(source(node));
            break;
        case Node::Kind::LineBreak:
            text(QStringView(u"\u2028"));
            break;
        case Node::Kind::Code:
            text(source(node), true);
            break;
        case Node::Kind::Delimiter:
            for (Tag tag : node.closes)
                --(tag == Tag::Strong ? m_strong : m_emphasis);
            text(QString(node.length, node.marker));
            for (Tag tag : node.opens)
                ++(tag == Tag::Strong ? m_strong : m_emphasis);
            break;
        case Node::Kind::LinkStart:
            if (node.url.isEmpty()) {
                text(u"[");
                break;
            }
            m_link = node.url;
            // A link with no text would be invisible: show where it goes.
            if (next && next->kind == Node::Kind::LinkEnd)
                text(node.url);
            break;
        case Node::Kind::LinkEnd:
            m_link.clear();
            break;
        }
    }

    QStringView source(const Node &node) const
    {
        return QStringView(m_source).sliced(node.start, node.length);
    }

    const QString &m_source;
    QList<Run> m_runs;
    int m_strong = 0;
    int m_emphasis = 0;
    QString m_link;
};

} // namespace

QList<Run> runs(const QString &text)
{
    return RunWriter(text).write(detail::scan(text));
}

bool isAllowedLink(const QString &url)
{
    return url.startsWith(u"http://", Qt::CaseInsensitive) || url.startsWith(u"https://", Qt::CaseInsensitive)
        || url.startsWith(u"mailto:", Qt::CaseInsensitive);
}

} // namespace InlineMarkdown
