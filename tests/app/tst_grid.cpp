// The list grid: the operations the modules rely on, the current row, and large fills.
#include "app/ubGrid.h"

#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTest>

class TestGrid : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsWriteAppendsAndTruncates();
    void cellsOutOfRangeAreHarmless();
    void headingSplitsAtBars();
    void currentRowFollowsTheRules();
    void removeRowShiftsLaterRows();
    void suspendedFillKeepsViewConsistent();
    void largeFill();
    void colsKeepExistingCells();
};

void TestGrid::rowsWriteAppendsAndTruncates() {
    ubGrid grid;
    grid.setCols(1);
    QCOMPARE(grid.rows(), 0);
    grid.setRows(1);
    grid.setCelltext(1, 1, "a");
    grid.setRows(grid.rows() + 1);
    QCOMPARE(grid.rows(), 2);
    QCOMPARE(grid.celltext(1, 1), QString("a"));
    QCOMPARE(grid.celltext(2, 1), QString());
    grid.addrow("c");
    QCOMPARE(grid.celltext(3, 1), QString("c"));
    grid.setRows(0);
    QCOMPARE(grid.rows(), 0);
    grid.addrow("d");
    QCOMPARE(grid.celltext(1, 1), QString("d"));
    grid.clearrows();
    QCOMPARE(grid.rows(), 0);
    QCOMPARE(grid.model()->rowCount(), 0);
}

void TestGrid::cellsOutOfRangeAreHarmless() {
    ubGrid grid;
    grid.setCols(3);
    grid.setRows(1);
    grid.setCelltext(0, 1, "x");
    grid.setCelltext(2, 1, "x");
    grid.setCelltext(1, 4, "x");
    QCOMPARE(grid.celltext(1, 1), QString());
    QCOMPARE(grid.celltext(5, 5), QString());
}

void TestGrid::headingSplitsAtBars() {
    ubGrid grid;
    grid.setCols(3);
    grid.setHeadingtext(" Mail Server | User Login | Password ");
    QCOMPARE(grid.model()->headerData(0, Qt::Horizontal).toString(), QString(" Mail Server "));
    QCOMPARE(grid.model()->headerData(2, Qt::Horizontal).toString(), QString(" Password "));
    grid.setColwidth(2, 160);
    QCOMPARE(grid.columnWidth(1), 160);
}

void TestGrid::currentRowFollowsTheRules() {
    ubGrid grid;
    grid.setCols(1);
    QCOMPARE(grid.currentrow(), 0);
    grid.removerow(0); // nothing to remove: nothing changes
    QCOMPARE(grid.rows(), 0);

    grid.addrow("first");
    QCOMPARE(grid.currentrow(), 1);
    grid.addrow("second");
    grid.addrow("third");
    QCOMPARE(grid.currentrow(), 1);
    QCOMPARE(grid.selectionModel()->currentIndex().row(), 0);

    // The user selects the last row; removing it makes the new last row current.
    grid.selectionModel()->setCurrentIndex(grid.model()->index(2, 0),
                                           QItemSelectionModel::ClearAndSelect);
    QCOMPARE(grid.currentrow(), 3);
    grid.removerow(grid.currentrow());
    QCOMPARE(grid.rows(), 2);
    QCOMPARE(grid.currentrow(), 2);
    QCOMPARE(grid.selectionModel()->currentIndex().row(), 1);

    // Removing a row above the current one keeps the same entry current.
    grid.removerow(1);
    QCOMPARE(grid.currentrow(), 1);
    QCOMPARE(grid.celltext(grid.currentrow(), 1), QString("second"));

    grid.removerow(1);
    QCOMPARE(grid.currentrow(), 0);

    // A refill with painting suspended makes the first row current.
    grid.setRedraw(false);
    for (int i = 0; i < 5; ++i)
        grid.addrow(QString::number(i));
    grid.setRedraw(true);
    QCOMPARE(grid.currentrow(), 1);
    QCOMPARE(grid.selectionModel()->currentIndex().row(), 0);
}

void TestGrid::removeRowShiftsLaterRows() {
    ubGrid grid;
    grid.setCols(3);
    for (int r = 1; r <= 3; ++r) {
        grid.setRows(r);
        for (int c = 1; c <= 3; ++c)
            grid.setCelltext(r, c, QString("%1.%2").arg(r).arg(c));
    }
    grid.removerow(2);
    QCOMPARE(grid.rows(), 2);
    QCOMPARE(grid.celltext(2, 1), QString("3.1"));
    QCOMPARE(grid.celltext(2, 3), QString("3.3"));
    QCOMPARE(grid.model()->rowCount(), 2);
    grid.removerow(3); // beyond the last row
    QCOMPARE(grid.rows(), 2);
}

void TestGrid::suspendedFillKeepsViewConsistent() {
    ubGrid grid;
    grid.setCols(1);
    grid.addrow("old");
    grid.setRedraw(false);
    grid.setRows(0);
    for (int i = 1; i <= 100; ++i)
        grid.addrow(QString::number(i));
    // While suspended the view still sees what it was last told, and every index it can ask
    // for is answered.
    QCOMPARE(grid.model()->rowCount(), 1);
    QCOMPARE(grid.model()->index(0, 0).data().toString(), QString("1"));
    grid.setRedraw(true);
    QCOMPARE(grid.model()->rowCount(), 100);
    QCOMPARE(grid.model()->index(99, 0).data().toString(), QString("100"));
}

void TestGrid::largeFill() {
    // Far beyond 16-bit row numbers, and fast enough not to stall a window.
    ubGrid grid;
    grid.setCols(1);
    grid.show();
    QElapsedTimer timer;
    timer.start();
    grid.setRedraw(false);
    for (int i = 1; i <= 70000; ++i) {
        grid.setRows(i);
        grid.setCelltext(i, 1, QString::number(i));
    }
    grid.setRedraw(true);
    QCOMPARE(grid.rows(), 70000);
    QCOMPARE(grid.model()->rowCount(), 70000);
    QCOMPARE(grid.celltext(70000, 1), QString("70000"));
    grid.removerow(40000);
    QCOMPARE(grid.celltext(40000, 1), QString("40001"));
    qInfo("70000 rows filled in %lld ms", timer.elapsed());
}

void TestGrid::colsKeepExistingCells() {
    ubGrid grid;
    grid.setCols(1);
    grid.addrow("a");
    grid.setCols(3);
    QCOMPARE(grid.celltext(1, 1), QString("a"));
    grid.setCelltext(1, 3, "c");
    grid.setCols(1);
    QCOMPARE(grid.cols(), 1);
    QCOMPARE(grid.celltext(1, 1), QString("a"));
    QCOMPARE(grid.celltext(1, 3), QString());
}

QTEST_MAIN(TestGrid)
#include "tst_grid.moc"
