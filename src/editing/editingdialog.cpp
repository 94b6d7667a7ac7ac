#include "editing/editingdialog.h"

#include "app/frmMain.h"
#include "app/msgbox.h"
#include "app/windowfont.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QValidator>

#include <algorithm>
#include <limits>

namespace {
// Keeps only the first line of what was just inserted. The cursor stands right after the
// inserted text, and the text around the insertion held no line break before (this validator
// guarded it), so everything from the first line break up to the cursor came with the insert.
class SingleLineValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override {
        const auto isBreak = [](QChar c) { return c == u'\r' || c == u'\n'; };
        const auto first = std::find_if(input.cbegin(), input.cend(), isBreak);
        if (first == input.cend())
            return Acceptable;
        const qsizetype start = first - input.cbegin();
        const qsizetype end = std::max<qsizetype>(start, pos);
        input.remove(start, end - start);
        // Any break still left (text set as a whole with the cursor elsewhere) ends the line.
        const auto rest = std::find_if(input.cbegin(), input.cend(), isBreak);
        input.truncate(rest - input.cbegin());
        pos = static_cast<int>(std::min<qsizetype>(start, input.size()));
        return Acceptable;
    }
};

constexpr int kIconPixels = 16;
} // namespace

EditingDialog::EditingDialog(frmMain& form)
    : QDialog(&form, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_form(form) {
    useWindowFont(this);
}

void EditingDialog::reject() {
    if (isVisible())
        cancel();
}

QLineEdit* EditingDialog::textBox(QWidget* parent, const char* name) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    // A line edit stops at 32767 characters unless told otherwise; these boxes have no limit.
    box->setMaxLength(std::numeric_limits<int>::max());
    box->setValidator(new SingleLineValidator(box));
    box->setMinimumWidth(220);
    return box;
}

QPushButton* EditingDialog::button(const QString& caption, const QString& icon, const char* name) {
    auto* b = new QPushButton(QIcon(icon), caption, this);
    b->setObjectName(QLatin1String(name));
    b->setIconSize(QSize(kIconPixels, kIconPixels));
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

void EditingDialog::fixSizeAndCentre() {
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void EditingDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        break;
    }
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void EditingDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QWidget* field = firstField())
        field->setFocus(Qt::OtherFocusReason);
}

QString editConfirmation(const QString& firstLine) {
    return firstLine + QLatin1String(kCrLf) +
           QStringLiteral("Be sure to click Update when you are finished.");
}
