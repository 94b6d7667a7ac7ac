#include "support/ui/layoutcheck.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>

namespace {

QString describe(const QWidget* widget) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        text = button->text();
    else if (const auto* box = qobject_cast<const QGroupBox*>(widget))
        text = box->title();
    QString name = QString::fromLatin1(widget->metaObject()->className());
    if (!widget->objectName().isEmpty())
        name += QLatin1Char(' ') + widget->objectName();
    if (!text.isEmpty())
        name += QStringLiteral(" \"%1\"").arg(
            text.length() > 40 ? text.left(40) + QStringLiteral("...") : text);
    return name;
}

QString size(const QSize& s) {
    return QStringLiteral("%1 x %2").arg(s.width()).arg(s.height());
}

// A plain container whose children are laid out by hand (a page, a frame, the window itself).
bool isContainer(const QWidget* widget) {
    return widget->metaObject() == &QWidget::staticMetaObject ||
           qobject_cast<const QGroupBox*>(widget) || qobject_cast<const QDialog*>(widget) ||
           qobject_cast<const QStackedWidget*>(widget);
}

// A control the user sees as one piece; what lies inside it is its own business.
bool isControl(const QWidget* widget) {
    return qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget) ||
           qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget) ||
           qobject_cast<const QAbstractScrollArea*>(widget) ||
           qobject_cast<const QTabWidget*>(widget) || isContainer(widget);
}

class Checker {
public:
    LayoutReport report;

    void visit(QWidget* parent) {
        QList<QWidget*> shown;
        for (QObject* child : parent->children()) {
            auto* widget = qobject_cast<QWidget*>(child);
            if (!widget || widget->isWindow() || !widget->isVisible() || !isControl(widget))
                continue;
            shown.append(widget);
        }
        for (qsizetype i = 0; i < shown.size(); ++i) {
            QWidget* widget = shown.at(i);
            checkText(widget);
            checkInside(widget, parent);
            for (qsizetype j = i + 1; j < shown.size(); ++j) {
                const QRect common = widget->geometry() & shown.at(j)->geometry();
                if (!common.isEmpty())
                    fault(widget, QStringLiteral("overlaps %1 by %2")
                                      .arg(describe(shown.at(j)), size(common.size())));
            }
            if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
                if (QWidget* page = tabs->currentWidget())
                    visit(page);
            } else if (isContainer(widget)) {
                visit(widget);
            }
        }
    }

private:
    void fault(const QWidget* widget, const QString& what) {
        report.faults.append(describe(widget) + QLatin1Char(' ') + what);
    }

    // A control is cut off where it reaches out of its parent's area.
    void checkInside(const QWidget* widget, const QWidget* parent) {
        // A picture may run on under the window's edge; a text may not.
        if (const auto* label = qobject_cast<const QLabel*>(widget);
            label && label->text().isEmpty())
            return;
        if (!parent->rect().contains(widget->geometry()))
            fault(widget, QStringLiteral("at %1, %2, %3 reaches out of its parent (%4)")
                              .arg(widget->x())
                              .arg(widget->y())
                              .arg(size(widget->size()), size(parent->size())));
    }

    void need(const QWidget* widget, const QSize& needed, const QSize& has) {
        ++report.texts;
        if (needed.width() > has.width() || needed.height() > has.height())
            fault(widget,
                  QStringLiteral("needs %1 for its text, has %2").arg(size(needed), size(has)));
    }

    void checkText(QWidget* widget) {
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (label->text().isEmpty())
                return;
            if (label->wordWrap()) {
                // Wrapped: the lines must fit the height, and no single word may be wider
                // than the label.
                const QRect area = label->contentsRect();
                const QRect lines = label->fontMetrics().boundingRect(
                    QRect(0, 0, area.width(), 100000), Qt::TextWordWrap | Qt::AlignLeft,
                    label->text());
                need(label, QSize(lines.width(), label->heightForWidth(label->width())),
                     label->size());
            } else {
                need(label, label->sizeHint(), label->size());
            }
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            if (button->text().isEmpty())
                return;
            // The caption (and its icon) must fit inside the button's frame; the style's wish
            // for a wider button by default is no fault.
            QStyleOptionButton option;
            option.initFrom(button);
            option.features = button->autoDefault() ? QStyleOptionButton::AutoDefaultButton
                                                    : QStyleOptionButton::None;
            const QRect contents =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            QSize needed = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
            if (!button->icon().isNull())
                needed = QSize(needed.width() + button->iconSize().width() + 4,
                               qMax(needed.height(), button->iconSize().height()));
            need(button, needed, contents.size());
        } else if (auto* box = qobject_cast<QAbstractButton*>(widget)) {
            if (!box->text().isEmpty())
                need(box, box->sizeHint(), box->size());
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            if (!group->title().isEmpty())
                need(group,
                     QSize(group->fontMetrics().horizontalAdvance(group->title()) +
                               2 * group->style()->pixelMetric(QStyle::PM_LayoutLeftMargin),
                           0),
                     group->size());
        } else if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
            // Every tab's whole text side by side, without elision or scroll arrows.
            QTabBar* bar = tabs->tabBar();
            for (int i = 0; i < bar->count(); ++i) {
                ++report.texts;
                const int text = bar->fontMetrics().horizontalAdvance(bar->tabText(i));
                if (bar->tabRect(i).width() < text)
                    fault(tabs, QStringLiteral("cuts tab \"%1\" to %2 px, its text needs %3")
                                    .arg(bar->tabText(i))
                                    .arg(bar->tabRect(i).width())
                                    .arg(text));
            }
            if (bar->sizeHint().width() > tabs->width())
                fault(tabs, QStringLiteral("needs %1 px for its tabs, has %2")
                                .arg(bar->sizeHint().width())
                                .arg(tabs->width()));
        }
    }
};

} // namespace

LayoutReport checkLayout(QWidget* window) {
    Checker checker;
    checker.visit(window);
    return checker.report;
}
