// The small layers under the start form: the tray record and its notifications, the menu
// bitmap, the cursor position and the pop-up seam.
#include "app/RestrictSizing.h"
#include "app/SetMenuIconModule.h"
#include "app/SysTrayModule.h"
#include "app/frmPictures.h"
#include "app/popupmenu.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
// A window that keeps the mouse messages the tray hands it.
class NotifiedWindow : public QWidget {
public:
    QList<int> messages;

protected:
    bool event(QEvent* event) override {
        if (event->type() == SysTrayModule::TrayNotifyEvent::eventType()) {
            messages.append(static_cast<SysTrayModule::TrayNotifyEvent*>(event)->mouseMessage());
            return true;
        }
        return QWidget::event(event);
    }
};

QPixmap filled(const QColor& colour) {
    QPixmap pixmap(17, 15);
    pixmap.fill(colour);
    return pixmap;
}

QColor centreOf(const QIcon& icon, QIcon::State state) {
    return icon.pixmap(QSize(17, 15), QIcon::Normal, state).toImage().pixelColor(8, 7);
}

// A form with the start form's menu layout: "&File" (separator, "E&xit") and "SysTray" with
// four items.
struct MenuForm {
    QMainWindow window;
    QMenu* file;
    QMenu* tray;
    MenuForm() {
        file = window.menuBar()->addMenu("&File");
        file->addSeparator();
        file->addAction("E&xit");
        tray = window.menuBar()->addMenu("SysTray");
        for (const char* caption : {"Scan Now", "Hide Application", "Show Application", "Exit"})
            tray->addAction(caption);
    }
    QList<QAction*> itemsWithIcon() const {
        QList<QAction*> found;
        for (QMenu* menu : {file, tray})
            for (QAction* item : menu->actions())
                if (!item->icon().isNull())
                    found.append(item);
        return found;
    }
};
} // namespace

class tst_shelllayers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void trayRecordServesTheWholeRun();
    void activationsBecomeMouseMessagesForTheOwner();
    void menuBitmapLandsOnTheAddressedItem_data();
    void menuBitmapLandsOnTheAddressedItem();
    void menuBitmapNeedsAMenuBar();
    void picturesHoldTheMenuMark();
    void cursorPositionFollowsTheCursor();
    void popupSeamTriggersTheChosenItem();
};

void tst_shelllayers::cleanup() {
    SysTrayModule::setTrayObserver({});
    SysTrayModule::removeIcon();
    setPopupMenuHandler({});
}

// Adding fills the one record; removing leaves it as it was, so the icon taken away is the one
// last added; an observer sees each step after the record is updated.
void tst_shelllayers::trayRecordServesTheWholeRun() {
    QList<QPair<bool, QString>> seen;
    SysTrayModule::setTrayObserver([&](const SysTrayModule::TrayRecord& record, bool added) {
        seen.append({added, record.tip});
        QCOMPARE(SysTrayModule::isAdded(), added);
    });
    auto owner = std::make_unique<QWidget>();
    QPixmap picture(32, 32);
    picture.fill(Qt::red);
    const QIcon icon(picture);

    SysTrayModule::addIcon(owner.get(), "Left click for menu.", icon);
    const SysTrayModule::TrayRecord& record = SysTrayModule::record();
    QCOMPARE(record.owner.data(), owner.get());
    QCOMPARE(record.identifier, 1u);
    QCOMPARE(record.tip, QString("Left click for menu."));
    QCOMPARE(record.icon.cacheKey(), icon.cacheKey());
    QVERIFY(SysTrayModule::isAdded());

    SysTrayModule::removeIcon();
    QVERIFY(!SysTrayModule::isAdded());
    QVERIFY(!SysTrayModule::isShown());
    QCOMPARE(record.owner.data(), owner.get());
    QCOMPARE(record.tip, QString("Left click for menu."));
    QCOMPARE(seen, (QList<QPair<bool, QString>>{{true, "Left click for menu."},
                                                {false, "Left click for menu."}}));

    // A tip longer than the field is cut to what the field holds before its terminator.
    SysTrayModule::addIcon(owner.get(), QString(70, QChar('x')) + "tail", icon);
    QCOMPARE(record.tip, QString(63, QChar('x')));

    // The owner going away clears the record's owner; notifications then go nowhere.
    owner.reset();
    QVERIFY(record.owner.isNull());
    SysTrayModule::notifyOwner(SysTrayModule::kLeftButtonDown);
    QCoreApplication::sendPostedEvents();
}

void tst_shelllayers::activationsBecomeMouseMessagesForTheOwner() {
    QCOMPARE(SysTrayModule::mouseMessageFor(QSystemTrayIcon::Trigger), 513);
    QCOMPARE(SysTrayModule::mouseMessageFor(QSystemTrayIcon::DoubleClick), 515);
    QCOMPARE(SysTrayModule::mouseMessageFor(QSystemTrayIcon::Context), 516);
    QCOMPARE(SysTrayModule::mouseMessageFor(QSystemTrayIcon::MiddleClick), 519);
    QCOMPARE(SysTrayModule::mouseMessageFor(QSystemTrayIcon::Unknown), 0);

    // Notifications are posted: the owner sees them once events run, in order.
    NotifiedWindow owner;
    SysTrayModule::addIcon(&owner, "Left click for menu.", QIcon());
    SysTrayModule::notifyOwner(513);
    SysTrayModule::notifyOwner(516);
    QVERIFY(owner.messages.isEmpty());
    QTRY_COMPARE(owner.messages, (QList<int>{513, 516}));
}

void tst_shelllayers::menuBitmapLandsOnTheAddressedItem_data() {
    QTest::addColumn<int>("subMenu");
    QTest::addColumn<int>("item");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<QString>("expectedItem"); // empty: nothing changes

    QTest::newRow("tray menu, third item") << 1 << 2 << 0u << "Show Application";
    QTest::newRow("file menu, second item") << 0 << 1 << 0u << "E&xit";
    // The start form's own call: the file menu has only two positions.
    QTest::newRow("past the file menu's end") << 0 << 2 << 0u << "";
    QTest::newRow("separator has no command") << 0 << 0 << 0u << "";
    QTest::newRow("no third submenu") << 2 << 0 << 0u << "";
    QTest::newRow("negative submenu") << -1 << 0 << 0u << "";
    QTest::newRow("negative item") << 1 << -1 << 0u << "";
    QTest::newRow("addressed by position") << 1 << 2 << 0x400u << "";
}

// The unchecked bitmap shows in the item's off state, the checked one in its on state.
void tst_shelllayers::menuBitmapLandsOnTheAddressedItem() {
    QFETCH(int, subMenu);
    QFETCH(int, item);
    QFETCH(uint, flags);
    QFETCH(QString, expectedItem);

    MenuForm form;
    const int result = SetMenuIconModule::setMenuItemBitmaps(&form.window, subMenu, item, flags,
                                                             filled(Qt::blue), filled(Qt::green));
    const QList<QAction*> withIcon = form.itemsWithIcon();
    if (expectedItem.isEmpty()) {
        QCOMPARE(result, 0);
        QVERIFY(withIcon.isEmpty());
        return;
    }
    QVERIFY(result != 0);
    QCOMPARE(withIcon.size(), 1);
    QCOMPARE(withIcon.first()->text(), expectedItem);
    QCOMPARE(centreOf(withIcon.first()->icon(), QIcon::Off), QColor(Qt::blue));
    QCOMPARE(centreOf(withIcon.first()->icon(), QIcon::On), QColor(Qt::green));

    // Two null bitmaps take the mark away again.
    QVERIFY(SetMenuIconModule::setMenuItemBitmaps(&form.window, subMenu, item, flags, QPixmap(),
                                                  QPixmap()) != 0);
    QVERIFY(form.itemsWithIcon().isEmpty());
}

// A plain window finds a bar placed directly in it; no window, or no bar, changes nothing.
void tst_shelllayers::menuBitmapNeedsAMenuBar() {
    QWidget plain;
    QCOMPARE(
        SetMenuIconModule::setMenuItemBitmaps(&plain, 0, 0, 0, filled(Qt::red), filled(Qt::red)),
        0);
    QCOMPARE(
        SetMenuIconModule::setMenuItemBitmaps(nullptr, 0, 0, 0, filled(Qt::red), filled(Qt::red)),
        0);
    auto* bar = new QMenuBar(&plain);
    QAction* scan = bar->addMenu("SysTray")->addAction("Scan Now");
    QVERIFY(SetMenuIconModule::setMenuItemBitmaps(&plain, 0, 0, 0, filled(Qt::red),
                                                  filled(Qt::red)) != 0);
    QVERIFY(!scan->icon().isNull());
}

void tst_shelllayers::picturesHoldTheMenuMark() {
    frmPictures pictures;
    const QPixmap mark = pictures.Picture1->pixmap();
    QCOMPARE(mark.size(), QSize(17, 15));
    QCOMPARE(mark.toImage(), QImage(":/menucheck.bmp").convertToFormat(mark.toImage().format()));
    QVERIFY(!pictures.isVisible());
}

void tst_shelllayers::cursorPositionFollowsTheCursor() {
    for (const QPoint at : {QPoint(3, 4), QPoint(500, 700)}) {
        QCursor::setPos(at);
        QCOMPARE(RestrictSizing::cursorPosition(), at);
    }
}

void tst_shelllayers::popupSeamTriggersTheChosenItem() {
    QMenu menu;
    QAction* first = menu.addAction("first");
    QAction* second = menu.addAction("second");
    QSignalSpy firstSpy(first, &QAction::triggered);
    QSignalSpy secondSpy(second, &QAction::triggered);
    QList<QPoint> shownAt;
    QAction* choice = second;
    setPopupMenuHandler([&](QMenu* shown, const QPoint& at) {
        if (shown == &menu)
            shownAt.append(at);
        return choice;
    });

    PopupMenu(&menu, QPoint(10, 20));
    QCOMPARE(secondSpy.size(), 1);
    QCOMPARE(firstSpy.size(), 0);

    // Dismissed, or a disabled item: nothing runs.
    choice = nullptr;
    PopupMenu(&menu, QPoint(30, 40));
    choice = first;
    first->setEnabled(false);
    PopupMenu(&menu, QPoint(50, 60));
    QCOMPARE(firstSpy.size(), 0);
    QCOMPARE(secondSpy.size(), 1);
    QCOMPARE(shownAt, (QList<QPoint>{{10, 20}, {30, 40}, {50, 60}}));
}

QTEST_MAIN(tst_shelllayers)
#include "tst_shelllayers.moc"
