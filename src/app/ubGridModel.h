#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>
#include <vector>

// The cells of a grid, row-major, with the rows and columns counted from 0.
// While painting is suspended the storage may change freely: the view is told only what
// rowCount() last reported, and catches up in one reset when painting resumes. This keeps a
// fill of tens of thousands of rows linear and the view consistent at every moment.
class ubGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ubGridModel(QObject* parent = nullptr);

    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    void setRows(int rows);
    void setCols(int cols);
    QString cell(int row, int col) const;
    void setCell(int row, int col, const QString& text);
    void appendRow(const QString& firstCell);
    void removeRowAt(int row);
    void setHeadings(const QStringList& headings);
    // Grows by one with every change of the cells or of their number, never goes back: a reader
    // that keeps something derived from the cells knows when to derive it again.
    quint64 revision() const { return m_revision; }

    // What the view shows of a cell beyond its text (a tooltip, a mark, a colour): asked with the
    // row, the column and the item role; an empty QVariant for nothing. The cells stay as they are.
    using Decoration = std::function<QVariant(int row, int col, int role)>;
    void setDecoration(Decoration decoration);
    // Tells the view that the decoration may give something else now.
    void decorationChanged();

    // Suspends (false) or resumes (true) telling the view about changes.
    void setLive(bool live);
    bool isLive() const { return m_live; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void resize(int rows, int cols);
    void syncView();

    std::vector<QString> m_cells;
    int m_rows = 0;
    int m_cols = 1;
    // What the view has been told.
    int m_shownRows = 0;
    int m_shownCols = 1;
    bool m_live = true;
    quint64 m_revision = 0;
    QStringList m_headings;
    Decoration m_decoration;
};
