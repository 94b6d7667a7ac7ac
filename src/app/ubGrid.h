#pragma once

#include <QTableView>

#include <functional>

class ubGridModel;

// The list grid: one heading row and `rows` data rows of `cols` text cells, rows and columns
// counted from 1. A view over a table model of its own, so that tens of thousands of rows cost
// no widget each.
//
// The current row: whenever the grid has data rows, exactly one of them is current and shown
// selected (the first after a refill, the new row after the first row is added to an empty
// grid, the row that moved into a removed row's place or the new last row). With no data rows
// currentrow() is 0, and removerow() of a row that does not exist changes nothing, so Delete
// always removes the row the user sees selected.
class ubGrid : public QTableView {
    Q_OBJECT
public:
    explicit ubGrid(QWidget* parent = nullptr);

    int rows() const;
    void setRows(int rows);
    int cols() const;
    void setCols(int cols);
    // false suspends painting while the grid is refilled; true resumes it.
    void setRedraw(bool redraw);
    bool redraw() const;
    // The heading row's text; bars separate one column's heading from the next.
    void setHeadingtext(const QString& text);
    QString headingtext() const { return m_headingText; }
    void setColwidth(int col, int pixels);
    QString celltext(int row, int col) const;
    void setCelltext(int row, int col, const QString& text);
    int currentrow() const;
    void addrow(const QString& text);
    void removerow(int row);
    void clearrows();
    void repaint();
    // A number that changes with every change of the cells or of the number of rows or columns
    // (see ubGridModel::revision).
    quint64 revision() const;

    // What a row shows beyond its cells' texts, such as a mark or a tooltip: called with the
    // 1-based row and column and an item role (Qt::ToolTipRole, Qt::DecorationRole, ...), it
    // gives an empty QVariant for nothing. The cells, the counts and what is saved of the grid
    // stay as they are. refreshDecoration() repaints after what it gives has changed.
    using Decoration = std::function<QVariant(int row, int col, int role)>;
    void setDecoration(Decoration decoration);
    void refreshDecoration();

    // Design-time look of the keyword grid: blue grid lines and a light grey heading row.
    void setKeywordLook();

private:
    void onCurrentChanged(const QModelIndex& current);
    void applyCurrent();
    void applyColumnWidths();

    ubGridModel* m_model;
    QString m_headingText;
    // Widths asked for, kept until the view knows the columns (painting may be suspended).
    QList<int> m_colWidths;
    int m_current = 0; // 1-based, 0 for none
};
