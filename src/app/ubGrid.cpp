#include "app/ubGrid.h"

#include "app/ubGridModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include <algorithm>

ubGrid::ubGrid(QWidget* parent)
    : QTableView(parent)
    , m_model(new ubGridModel(this)) {
    setModel(m_model);
    QFont gridFont(QStringLiteral("MS Sans Serif"));
    gridFont.setStyleHint(QFont::SansSerif);
    gridFont.setPointSizeF(8.25);
    setFont(gridFont);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    setStyleSheet(QStringLiteral("QTableView { gridline-color: palette(button); }"));
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onCurrentChanged(current); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        // A refill makes the first row current.
        m_current = m_model->rows() > 0 ? 1 : 0;
        applyColumnWidths();
        applyCurrent();
    });
}

int ubGrid::rows() const {
    return m_model->rows();
}

void ubGrid::setRows(int rows) {
    m_model->setRows(rows);
    if (m_model->rows() == 0)
        m_current = 0;
    else if (m_current == 0)
        m_current = 1;
    else
        m_current = std::min(m_current, m_model->rows());
    applyCurrent();
}

int ubGrid::cols() const {
    return m_model->cols();
}

void ubGrid::setCols(int cols) {
    m_model->setCols(cols);
}

void ubGrid::setRedraw(bool redraw) {
    if (!redraw) {
        setUpdatesEnabled(false);
        m_model->setLive(false);
        return;
    }
    m_model->setLive(true);
    setUpdatesEnabled(true);
    applyCurrent();
}

bool ubGrid::redraw() const {
    return m_model->isLive();
}

void ubGrid::setHeadingtext(const QString& text) {
    m_headingText = text;
    m_model->setHeadings(text.split(QLatin1Char('|')));
}

void ubGrid::setColwidth(int col, int pixels) {
    if (col < 1)
        return;
    if (m_colWidths.size() < col)
        m_colWidths.resize(col, -1);
    m_colWidths[col - 1] = pixels;
    applyColumnWidths();
}

void ubGrid::applyColumnWidths() {
    const int known = m_model->columnCount();
    for (int c = 0; c < m_colWidths.size() && c < known; ++c) {
        if (m_colWidths.at(c) >= 0)
            setColumnWidth(c, m_colWidths.at(c));
    }
}

void ubGrid::setDecoration(Decoration decoration) {
    if (!decoration) {
        m_model->setDecoration({});
        return;
    }
    m_model->setDecoration([decoration = std::move(decoration)](int row, int col, int role) {
        return decoration(row + 1, col + 1, role);
    });
}

void ubGrid::refreshDecoration() {
    m_model->decorationChanged();
}

QString ubGrid::celltext(int row, int col) const {
    return m_model->cell(row - 1, col - 1);
}

void ubGrid::setCelltext(int row, int col, const QString& text) {
    m_model->setCell(row - 1, col - 1, text);
}

int ubGrid::currentrow() const {
    return m_model->rows() > 0 ? m_current : 0;
}

void ubGrid::addrow(const QString& text) {
    setRows(rows() + 1);
    setCelltext(rows(), 1, text);
}

void ubGrid::removerow(int row) {
    if (row < 1 || row > m_model->rows())
        return;
    m_model->removeRowAt(row - 1);
    if (m_model->rows() == 0)
        m_current = 0;
    else
        m_current = std::clamp(m_current > row ? m_current - 1 : m_current, 1, m_model->rows());
    applyCurrent();
}

void ubGrid::clearrows() {
    setRows(0);
}

void ubGrid::repaint() {
    viewport()->update();
}

quint64 ubGrid::revision() const {
    return m_model->revision();
}

void ubGrid::setKeywordLook() {
    setStyleSheet(QStringLiteral("QTableView { gridline-color: rgb(0, 0, 255); }"
                                 "QHeaderView::section { background-color: rgb(192, 192, 192); }"));
}

void ubGrid::onCurrentChanged(const QModelIndex& current) {
    if (current.isValid())
        m_current = current.row() + 1;
}

void ubGrid::applyCurrent() {
    // The view only knows the rows it has been told about; while painting is suspended the
    // current row is kept here and shown when painting resumes.
    if (!m_model->isLive())
        return;
    if (m_current < 1 || m_current > m_model->rowCount()) {
        selectionModel()->clearCurrentIndex();
        return;
    }
    const QModelIndex index = m_model->index(m_current - 1, 0);
    if (selectionModel()->currentIndex() != index)
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
}
