#include "app/ubGridModel.h"

#include <algorithm>

ubGridModel::ubGridModel(QObject* parent)
    : QAbstractTableModel(parent) {}

void ubGridModel::resize(int rows, int cols) {
    rows = std::max(rows, 0);
    cols = std::max(cols, 1);
    ++m_revision;
    if (cols == m_cols) {
        m_cells.resize(static_cast<size_t>(rows) * static_cast<size_t>(cols));
    } else {
        std::vector<QString> cells(static_cast<size_t>(rows) * static_cast<size_t>(cols));
        const int keepRows = std::min(rows, m_rows);
        const int keepCols = std::min(cols, m_cols);
        for (int r = 0; r < keepRows; ++r)
            for (int c = 0; c < keepCols; ++c)
                cells[static_cast<size_t>(r) * cols + c] =
                    std::move(m_cells[static_cast<size_t>(r) * m_cols + c]);
        m_cells = std::move(cells);
    }
    m_rows = rows;
    m_cols = cols;
}

void ubGridModel::setRows(int rows) {
    rows = std::max(rows, 0);
    if (rows == m_rows)
        return;
    if (!m_live || m_cols != m_shownCols) {
        resize(rows, m_cols);
        syncView();
        return;
    }
    if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        resize(rows, m_cols);
        m_shownRows = rows;
        endInsertRows();
    } else {
        beginRemoveRows(QModelIndex(), rows, m_rows - 1);
        resize(rows, m_cols);
        m_shownRows = rows;
        endRemoveRows();
    }
}

void ubGridModel::setCols(int cols) {
    cols = std::max(cols, 1);
    if (cols == m_cols)
        return;
    resize(m_rows, cols);
    syncView();
}

QString ubGridModel::cell(int row, int col) const {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols)
        return QString();
    return m_cells[static_cast<size_t>(row) * m_cols + col];
}

void ubGridModel::setCell(int row, int col, const QString& text) {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols)
        return;
    m_cells[static_cast<size_t>(row) * m_cols + col] = text;
    ++m_revision;
    if (m_live && row < m_shownRows && col < m_shownCols) {
        const QModelIndex changed = index(row, col);
        Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
    }
}

void ubGridModel::appendRow(const QString& firstCell) {
    setRows(m_rows + 1);
    setCell(m_rows - 1, 0, firstCell);
}

void ubGridModel::removeRowAt(int row) {
    if (row < 0 || row >= m_rows)
        return;
    const bool tell = m_live && m_shownRows == m_rows && m_shownCols == m_cols;
    if (tell)
        beginRemoveRows(QModelIndex(), row, row);
    const auto first = m_cells.begin() + static_cast<std::ptrdiff_t>(row) * m_cols;
    m_cells.erase(first, first + m_cols);
    ++m_revision;
    --m_rows;
    if (tell) {
        m_shownRows = m_rows;
        endRemoveRows();
    } else {
        syncView();
    }
}

void ubGridModel::setHeadings(const QStringList& headings) {
    m_headings = headings;
    if (m_live)
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, std::max(m_shownCols - 1, 0));
}

void ubGridModel::setLive(bool live) {
    m_live = live;
    syncView();
}

void ubGridModel::syncView() {
    if (!m_live)
        return;
    if (m_shownRows == m_rows && m_shownCols == m_cols) {
        if (m_rows > 0)
            Q_EMIT dataChanged(index(0, 0), index(m_rows - 1, m_cols - 1), {Qt::DisplayRole});
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
        return;
    }
    beginResetModel();
    m_shownRows = m_rows;
    m_shownCols = m_cols;
    endResetModel();
}

int ubGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shownRows;
}

int ubGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shownCols;
}

QVariant ubGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return QVariant();
    if (role == Qt::DisplayRole)
        return cell(index.row(), index.column());
    if (m_decoration && index.row() < m_rows && index.column() < m_cols)
        return m_decoration(index.row(), index.column(), role);
    return QVariant();
}

void ubGridModel::setDecoration(Decoration decoration) {
    m_decoration = std::move(decoration);
    decorationChanged();
}

void ubGridModel::decorationChanged() {
    if (m_live && m_shownRows > 0 && m_shownCols > 0)
        Q_EMIT dataChanged(
            index(0, 0), index(m_shownRows - 1, m_shownCols - 1),
            {Qt::ToolTipRole, Qt::DecorationRole, Qt::BackgroundRole, Qt::ForegroundRole});
}

QVariant ubGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section < m_headings.size() ? m_headings.at(section) : QString();
}
