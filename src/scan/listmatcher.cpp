#include "scan/listmatcher.h"

#include <algorithm>
#include <string_view>

namespace {

std::u16string_view units(const QString& s) {
    return std::u16string_view(QStringView(s).utf16(), static_cast<std::size_t>(s.size()));
}

// Edge runs up to this length are scanned in order; longer ones are searched by halving.
constexpr std::uint32_t kLinearEdges = 8;

} // namespace

ListMatcher::ListMatcher() {
    m_rootAscii.fill(kNoNode);
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

    // Sorted by code units, equal entries by row, a trie is laid down in one sweep: each entry
    // shares with the one before it their common prefix and adds nodes for the rest. A node's
    // children are then made in increasing code-unit order.
    std::sort(patterns.begin(), patterns.end(), [this](std::uint32_t a, std::uint32_t b) {
        const auto ua = units(m_upper.at(a));
        const auto ub = units(m_upper.at(b));
        return ua != ub ? ua < ub : a < b;
    });

    // The trie in the order its nodes are made (depth first).
    std::vector<Node> parent{kNoNode};
    std::vector<char16_t> unit{0};
    std::vector<std::uint32_t> own{kNoRow};
    std::vector<Node> path{kRoot};
    std::u16string_view previous;
    for (const std::uint32_t row : patterns) {
        const auto text = units(m_upper.at(row));
        const auto common = static_cast<std::size_t>(
            std::mismatch(text.begin(), text.end(), previous.begin(), previous.end()).first -
            text.begin());
        path.resize(common + 1);
        for (std::size_t d = common; d < text.size(); ++d) {
            const auto node = static_cast<Node>(parent.size());
            parent.push_back(path.back());
            unit.push_back(text[d]);
            own.push_back(kNoRow);
            path.push_back(node);
        }
        // Equal entries meet at the same node; the first of them, the lowest row, stays.
        own[path.back()] = std::min(own[path.back()], row);
        previous = text;
    }
    const std::size_t nodeCount = parent.size();

    // The children of each node, in code-unit order.
    std::vector<std::uint32_t> childStart(nodeCount + 1, 0);
    for (std::size_t n = 1; n < nodeCount; ++n)
        ++childStart[parent[n] + 1];
    for (std::size_t n = 0; n < nodeCount; ++n)
        childStart[n + 1] += childStart[n];
    std::vector<Node> children(nodeCount > 0 ? nodeCount - 1 : 0);
    {
        std::vector<std::uint32_t> fill(childStart.begin(), childStart.end() - 1);
        for (std::size_t n = 1; n < nodeCount; ++n)
            children[fill[parent[n]]++] = static_cast<Node>(n);
    }

    // Renumbered breadth first, the children of every node get consecutive numbers in edge
    // order, so edge e of the flat edge list leads to node e + 1 and needs no target field.
    std::vector<Node> order{kRoot};
    order.reserve(nodeCount);
    m_edgeStart.assign(nodeCount + 1, 0);
    m_edgeUnit.assign(nodeCount > 0 ? nodeCount - 1 : 0, 0);
    std::vector<std::uint32_t> ownByOrder(nodeCount, kNoRow);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const Node old = order[k];
        ownByOrder[k] = own[old];
        m_edgeStart[k] = static_cast<std::uint32_t>(order.size() - 1);
        for (std::uint32_t c = childStart[old]; c < childStart[old + 1]; ++c) {
            m_edgeUnit[order.size() - 1] = unit[children[c]];
            order.push_back(children[c]);
        }
    }
    m_edgeStart[nodeCount] = static_cast<std::uint32_t>(nodeCount - 1);
    parent = {};
    unit = {};
    own = {};
    children = {};
    childStart = {};
    order = {};

    m_rootAscii.fill(kNoNode);
    for (std::uint32_t e = m_edgeStart[kRoot]; e < m_edgeStart[kRoot + 1]; ++e) {
        if (m_edgeUnit[e] < m_rootAscii.size())
            m_rootAscii[m_edgeUnit[e]] = e + 1;
    }

    // Failure links: the node of the longest proper suffix of a node's text that is also in the
    // trie. A node's best row folds in the best row of its failure node, so the scan sees every
    // entry ending at a position from the one node it stands on.
    m_fail.assign(nodeCount, kRoot);
    m_best.assign(nodeCount, kNoRow);
    m_best[kRoot] = ownByOrder[kRoot];
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
            m_best[v] = std::min(ownByOrder[v], m_best[f]);
        }
    }
}

ListMatcher::Node ListMatcher::child(Node node, char16_t c) const {
    if (node == kRoot && c < m_rootAscii.size())
        return m_rootAscii[c];
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
    Node state = kRoot;
    std::uint32_t best = kNoRow;
    for (const char16_t c :
         std::u16string_view(upperText.utf16(), static_cast<std::size_t>(upperText.size()))) {
        for (;;) {
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
    return best == kNoRow ? 0 : static_cast<qsizetype>(best) + 1;
}
