#include "scan/listmatcher.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

std::u16string_view units(const QString& s) {
    return std::u16string_view(QStringView(s).utf16(), static_cast<std::size_t>(s.size()));
}

// Edge runs up to this length are scanned in order; longer ones are searched by halving.
constexpr std::uint32_t kLinearEdges = 8;

} // namespace

ListMatcher::ListMatcher() {
    m_edgeStart = {0, 0};
    m_fail = {kRoot};
    m_best = {kNoRow};
}

ListMatcher::ListMatcher(const QStringList& entries)
    : m_entries(entries) {
    build();
}

qsizetype ListMatcher::entriesUpTo(qsizetype row) const {
    if (row <= 0)
        return 0;
    row = std::min(row, rowCount());
    return m_entriesUpTo[static_cast<std::size_t>(row - 1)];
}

void ListMatcher::build() {
    const auto rows = static_cast<std::size_t>(m_entries.size());
    m_upper.reserve(m_entries.size());
    m_entriesUpTo.resize(rows);
    std::vector<std::uint32_t> patterns;
    for (std::size_t i = 0; i < rows; ++i) {
        const QString& entry = m_entries.at(static_cast<qsizetype>(i));
        m_upper.append(entry.toUpper());
        if (!entry.isEmpty()) {
            patterns.push_back(static_cast<std::uint32_t>(i));
            m_lastEntryRow = static_cast<qsizetype>(i) + 1;
        }
        m_entriesUpTo[i] = static_cast<std::uint32_t>(patterns.size());
    }
    m_entryCount = static_cast<qsizetype>(patterns.size());
    if (!patterns.empty())
        m_lowestRow = patterns.front();

    // Sorted by code units (equal entries by row), the entries sharing a prefix stand together,
    // and the distinct prefixes of one length come in the order a breadth-first numbering of
    // the trie with sorted children gives their nodes. So the trie is laid down one depth at a
    // time straight into its final arrays, with no per-node scratch space.
    std::sort(patterns.begin(), patterns.end(), [this](std::uint32_t a, std::uint32_t b) {
        const auto ua = units(m_upper.at(a));
        const auto ub = units(m_upper.at(b));
        return ua != ub ? ua < ub : a < b;
    });

    // Each entry adds a node for every code unit past its common prefix with the one before.
    std::size_t nodeCount = 1;
    std::u16string_view previous;
    for (const std::uint32_t row : patterns) {
        const auto text = units(m_upper.at(row));
        const auto common =
            std::mismatch(text.begin(), text.end(), previous.begin(), previous.end()).first -
            text.begin();
        nodeCount += text.size() - static_cast<std::size_t>(common);
        previous = text;
    }
    m_edgeStart.assign(nodeCount + 1, 0);
    m_edgeUnit.assign(nodeCount - 1, 0);
    m_best.assign(nodeCount, kNoRow);

    // active: positions in `patterns` of the entries longer than the current depth, in order;
    // at: the node of each such entry's prefix up to that depth.
    std::vector<std::uint32_t> active(patterns.size());
    for (std::size_t i = 0; i < active.size(); ++i)
        active[i] = static_cast<std::uint32_t>(i);
    std::vector<Node> at(patterns.size(), kRoot);
    Node nextNode = 1;
    for (std::size_t depth = 0; !active.empty(); ++depth) {
        Node lastParent = kNoNode;
        char16_t lastUnit = 0;
        Node node = kNoNode;
        std::size_t kept = 0;
        for (const std::uint32_t pos : active) {
            const auto text = units(m_upper.at(patterns[pos]));
            const Node parentNode = at[pos];
            const char16_t c = text[depth];
            if (parentNode != lastParent || c != lastUnit) {
                node = nextNode++;
                m_edgeUnit[node - 1] = c;
                ++m_edgeStart[parentNode + 1];
                lastParent = parentNode;
                lastUnit = c;
            }
            if (depth + 1 == text.size()) {
                // Equal entries end at the same node; the lowest row stays.
                m_best[node] = std::min(m_best[node], patterns[pos]);
            } else {
                at[pos] = node;
                active[kept++] = pos;
            }
        }
        active.resize(kept);
    }
    for (std::size_t n = 0; n < nodeCount; ++n)
        m_edgeStart[n + 1] += m_edgeStart[n];

    // Failure links: the node of the longest proper suffix of a node's text that is also in the
    // trie. A node's best row folds in the best row of its failure node, so the scan sees every
    // entry ending at a position from the one node it stands on.
    m_fail.assign(nodeCount, kRoot);
    for (std::size_t u = 0; u < nodeCount; ++u) {
        for (std::uint32_t e = m_edgeStart[u]; e < m_edgeStart[u + 1]; ++e) {
            const Node v = e + 1;
            Node f = kRoot;
            if (u != kRoot) {
                f = m_fail[u];
                for (;;) {
                    const Node next = child(f, m_edgeUnit[e]);
                    if (next != kNoNode) {
                        f = next;
                        break;
                    }
                    if (f == kRoot)
                        break;
                    f = m_fail[f];
                }
            }
            m_fail[v] = f;
            m_best[v] = std::min(m_best[v], m_best[f]);
        }
    }

    // The direct tables. A child of the root fails to the root, so where it has no edge for a unit
    // it goes where the root goes.
    m_denseNodes = 1;
    while (m_denseNodes < nodeCount && m_denseNodes - 1 < m_edgeStart[kRoot + 1] &&
           m_edgeUnit[m_denseNodes - 1] < 128)
        ++m_denseNodes;
    m_dense.assign(std::size_t(m_denseNodes) * 128, kRoot);
    for (Node node = 0; node < m_denseNodes; ++node) {
        for (char16_t c = 0; c < 128; ++c) {
            const Node next = child(node, c);
            m_dense[node * 128 + c] = next != kNoNode ? next : node == kRoot ? kRoot : m_dense[c];
        }
    }
}

ListMatcher::Node ListMatcher::child(Node node, char16_t c) const {
    const std::uint32_t begin = m_edgeStart[node];
    const std::uint32_t end = m_edgeStart[node + 1];
    if (end - begin <= kLinearEdges) {
        for (std::uint32_t e = begin; e < end; ++e) {
            if (m_edgeUnit[e] == c)
                return e + 1;
        }
        return kNoNode;
    }
    const auto first = m_edgeUnit.begin() + begin;
    const auto last = m_edgeUnit.begin() + end;
    const auto it = std::lower_bound(first, last, c);
    if (it == last || *it != c)
        return kNoNode;
    return static_cast<Node>(it - m_edgeUnit.begin()) + 1;
}

qsizetype ListMatcher::firstMatch(QStringView upperText) const {
    if (m_entryCount == 0)
        return 0;
    Scan scan;
    feed(scan, upperText);
    return scan.best == kNoRow ? 0 : static_cast<qsizetype>(scan.best) + 1;
}

qsizetype ListMatcher::firstMatchUpperCasing(QStringView text) const {
    if (m_entryCount == 0)
        return 0;
    // Large enough that the per-piece cost vanishes, small enough to stay in the cache.
    constexpr qsizetype kPiece = 8192;
    Scan scan;
    std::array<char16_t, kPiece> ascii;
    QString piece;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype length = std::min(kPiece, text.size() - at);
        // A pair is never cut in two.
        if (at + length < text.size() && length > 1 && text.at(at + length - 1).isHighSurrogate())
            --length;
        const QStringView slice = text.sliced(at, length);
        // Most mail is ASCII, where upper-casing is a-z to A-Z and nothing else; other text goes
        // through the full Unicode mapping, which can also change its length.
        bool plain = true;
        for (qsizetype i = 0; i < length && plain; ++i) {
            const char16_t c = slice.utf16()[i];
            plain = c < 0x80;
            ascii[static_cast<std::size_t>(i)] = c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
        }
        QStringView upper(ascii.data(), length);
        if (!plain) {
            piece = slice.toString().toUpper();
            upper = piece;
        }
        if (!feed(scan, upper))
            break;
        at += length;
    }
    return scan.best == kNoRow ? 0 : static_cast<qsizetype>(scan.best) + 1;
}

bool ListMatcher::feed(Scan& scan, QStringView upperText) const {
    Node state = scan.state;
    std::uint32_t best = scan.best;
    for (const char16_t c :
         std::u16string_view(upperText.utf16(), static_cast<std::size_t>(upperText.size()))) {
        for (;;) {
            if (state < m_denseNodes && c < 128) {
                state = m_dense[state * 128 + c];
                break;
            }
            const Node next = child(state, c);
            if (next != kNoNode) {
                state = next;
                break;
            }
            if (state == kRoot)
                break;
            state = m_fail[state];
        }
        if (m_best[state] < best) {
            best = m_best[state];
            // Nothing can beat the first non-empty row.
            if (best == m_lowestRow)
                break;
        }
    }
    scan.state = state;
    scan.best = best;
    return best != m_lowestRow;
}
