// The layers under the start form: the tray record and the menu bitmap.
#include "app/SetMenuIconModule.h"
#include "app/SysTrayModule.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <memory>

namespace {
QPixmap filled(const QColor& colour) {
    QPixmap pixmap(17, 15);
    pixmap.fill(colour);
    return pixmap;
}

QColor centreOf(const QIcon& icon, QIcon::State state) {
    return icon.pixmap(QSize(17, 15), QIcon::Normal, state).toImage().pixelColor(8, 7);
}
} // namespace

class TestShellLayers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void trayRecordOutlivesRemovalAndOwner();
    void menuBitmapLandsOnTheAddressedItem_data();
    void menuBitmapLandsOnTheAddressedItem();
};

// Removing leaves the record as it was, so the icon taken away is the one last added; a tip
// longer than the field is cut; an owner that goes away is forgotten, not called.
void TestShellLayers::trayRecordOutlivesRemovalAndOwner() {
    auto owner = std::make_unique<QWidget>();
    SysTrayModule::addIcon(owner.get(), QString(70, QChar('x')) + "tail", QIcon());
    SysTrayModule::removeIcon();
    const SysTrayModule::TrayRecord& record = SysTrayModule::record();
    QVERIFY(!SysTrayModule::isAdded());
    QCOMPARE(record.owner.data(), owner.get());
    QCOMPARE(record.identifier, 1u);
    QCOMPARE(record.tip, QString(63, QChar('x')));

    owner.reset();
    QVERIFY(record.owner.isNull());
    SysTrayModule::notifyOwner(SysTrayModule::kLeftButtonDown);
    QCoreApplication::sendPostedEvents();
}

void TestShellLayers::menuBitmapLandsOnTheAddressedItem_data() {
    QTest::addColumn<int>("subMenu");
    QTest::addColumn<int>("item");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<QString>("expectedItem"); // empty: nothing changes

    QTest::newRow("tray menu, third item") << 1 << 2 << 0u << "Show Application";
    QTest::newRow("file menu, second item") << 0 << 1 << 0u << "E&xit";
    QTest::newRow("past the file menu's end") << 0 << 2 << 0u << "";
    QTest::newRow("separator has no command") << 0 << 0 << 0u << "";
    QTest::newRow("no third submenu") << 2 << 0 << 0u << "";
    QTest::newRow("addressed by position") << 1 << 2 << 0x400u << "";
}

// The unchecked bitmap shows in the item's off state, the checked one in its on state; two
// null bitmaps take the mark away again.
void TestShellLayers::menuBitmapLandsOnTheAddressedItem() {
    QFETCH(int, subMenu);
    QFETCH(int, item);
    QFETCH(uint, flags);
    QFETCH(QString, expectedItem);

    QMainWindow window;
    QMenu* file = window.menuBar()->addMenu("&File");
    file->addSeparator();
    file->addAction("E&xit");
    QMenu* tray = window.menuBar()->addMenu("SysTray");
    for (const char* caption : {"Scan Now", "Hide Application", "Show Application", "Exit"})
        tray->addAction(caption);
    auto marked = [&] {
        QStringList found;
        for (QMenu* menu : {file, tray})
            for (const QAction* action : menu->actions())
                if (!action->icon().isNull())
                    found.append(action->text());
        return found;
    };

    const int result = SetMenuIconModule::setMenuItemBitmaps(&window, subMenu, item, flags,
                                                             filled(Qt::blue), filled(Qt::green));
    if (expectedItem.isEmpty()) {
        QCOMPARE(result, 0);
        QVERIFY(marked().isEmpty());
        return;
    }
    QVERIFY(result != 0);
    QCOMPARE(marked(), QStringList{expectedItem});
    const QIcon icon = window.menuBar()->actions().at(subMenu)->menu()->actions().at(item)->icon();
    QCOMPARE(centreOf(icon, QIcon::Off), QColor(Qt::blue));
    QCOMPARE(centreOf(icon, QIcon::On), QColor(Qt::green));

    QVERIFY(SetMenuIconModule::setMenuItemBitmaps(&window, subMenu, item, flags, QPixmap(),
                                                  QPixmap()) != 0);
    QVERIFY(marked().isEmpty());
}

QTEST_MAIN(TestShellLayers)
#include "tst_shelllayers.moc"
