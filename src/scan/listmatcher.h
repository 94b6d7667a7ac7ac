#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <vector>

// Finds, in one pass over an upper-cased text, the lowest row of a rule list whose entry occurs
// in it. The entries are upper-cased once, when the matcher is built, and searched for all at
// once (an Aho-Corasick automaton over UTF-16 code units), so a message costs time in its own
// length, not in the length of the list. Empty entries never match; of duplicate entries the
// lowest row counts.
//
// Memory grows with the total length of the entries, about 14 bytes per trie node: a node's
// edges are a sorted run of code units. The root and the nodes of one ASCII unit below it also
// have a direct table for ASCII (at most 129 tables of 512 bytes).
class ListMatcher {
public:
    ListMatcher();
    explicit ListMatcher(const QStringList& entries);

    // True when the matcher was built from these entries. Cheap when the caller passes the same
    // (implicitly shared) list it was built from, or one of another length; otherwise the texts
    // are compared.
    bool isBuiltFrom(const QStringList& entries) const { return m_entries == entries; }

    // Number of rows, the empty ones included.
    qsizetype rowCount() const { return m_entries.size(); }
    // Number of rows with a non-empty entry.
    qsizetype entryCount() const { return m_entryCount; }
    // The entry of a 1-based row as it was given (shares the caller's text: no copy is made).
    QString entry(qsizetype row) const { return m_entries.at(row - 1); }
    // The upper-cased entry of a 1-based row (empty for an empty row).
    QString upperEntry(qsizetype row) const { return m_upper.at(row - 1); }
    // The 1-based row of the last non-empty entry, 0 when there is none.
    qsizetype lastEntryRow() const { return m_lastEntryRow; }
    // The number of non-empty entries in rows 1 to `row`.
    qsizetype entriesUpTo(qsizetype row) const;

    // The lowest 1-based row whose entry occurs in the text, 0 when none does. The text must be
    // upper-cased already (QString::toUpper), as the entries were.
    qsizetype firstMatch(QStringView upperText) const;
    // The same for a text as it stands: it is upper-cased a piece at a time while it is searched,
    // so a long text costs no upper-cased copy of itself and the search stops at the first row.
    // Upper-casing maps each character on its own, so pieces that never split a surrogate pair
    // give the same text as upper-casing the whole.
    qsizetype firstMatchUpperCasing(QStringView text) const;

private:
    using Node = std::uint32_t;
    static constexpr Node kRoot = 0;
    static constexpr Node kNoNode = UINT32_MAX;
    static constexpr std::uint32_t kNoRow = UINT32_MAX;

    // A search in progress: where the automaton stands and the best row found so far.
    struct Scan {
        Node state = kRoot;
        std::uint32_t best = kNoRow;
    };
    // Feeds upper-cased text to a search; false once nothing can beat the row found.
    bool feed(Scan& scan, QStringView upperText) const;

    void build();
    Node child(Node node, char16_t c) const;

    QStringList m_entries;
    QStringList m_upper;
    // For each row, the number of non-empty entries up to and including it.
    std::vector<std::uint32_t> m_entriesUpTo;
    qsizetype m_entryCount = 0;
    qsizetype m_lastEntryRow = 0;
    std::uint32_t m_lowestRow = kNoRow;

    // The automaton. Node 0 is the root; nodes are numbered breadth first, the children of a
    // node in code-unit order, so edge e of the flat edge list always leads to node e + 1. The
    // edges of node n are e = m_edgeStart[n] .. m_edgeStart[n + 1] - 1, with m_edgeUnit[e] the
    // code unit on each.
    std::vector<std::uint32_t> m_edgeStart;
    std::vector<char16_t> m_edgeUnit;
    std::vector<Node> m_fail;
    // The lowest 0-based row of an entry that ends at this node, itself or through its
    // failure chain (kNoRow when none does).
    std::vector<std::uint32_t> m_best;
    // Where the search goes from the root and from the nodes one ASCII unit below it (nodes 1 to
    // m_denseNodes - 1, which breadth-first numbering with sorted children puts first) on each
    // ASCII unit, failure links already followed: most of a text's characters are read in one of
    // these states. 128 entries per node.
    std::vector<Node> m_dense;
    Node m_denseNodes = 0;
};
