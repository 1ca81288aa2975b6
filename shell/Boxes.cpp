#include "shell/Boxes.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QTextEdit>

namespace {

// The application's style with one change: button boxes lay their buttons out in the order the
// program's texts name them (OK before Cancel, Yes before No), as on the platform the program
// was written for. Every other desktop layout reorders them by role.
class TProgramButtonOrder : public QProxyStyle {
public:
    explicit TProgramButtonOrder(QStyle* Base) : QProxyStyle(Base) {}
    int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                  QStyleHintReturn* Return) const override
    {
        if (Hint == SH_DialogButtonLayout)
            return QDialogButtonBox::WinLayout;
        return QProxyStyle::styleHint(Hint, Option, Widget, Return);
    }
};

// One for the program, made from the application's own style (a proxy style names none).
QStyle* ButtonOrderStyle()
{
    static QPointer<QStyle> Style;
    if (!Style) {
        QStyle* Base = QStyleFactory::create(QApplication::style()->name());
        if (!Base)
            Base = QStyleFactory::create("Fusion");
        Style = new TProgramButtonOrder(Base);
        Style->setParent(qApp);
    }
    return Style;
}

}  // namespace

void ArrangeBox(QMessageBox& Box)
{
    if (auto* Buttons = Box.findChild<QDialogButtonBox*>())
        Buttons->setStyle(ButtonOrderStyle());
    for (QMessageBox::StandardButton First : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Retry})
        if (auto* Button = qobject_cast<QPushButton*>(Box.button(First))) {
            Box.setDefaultButton(Button);
            break;
        }
    for (QMessageBox::StandardButton Escape : {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Ok})
        if (QAbstractButton* Button = Box.button(Escape)) {
            Box.setEscapeButton(Button);
            break;
        }
    if (auto* Details = Box.findChild<QTextEdit*>())
        Details->setLineWrapMode(QTextEdit::NoWrap);
    Box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}

QWidget* BoxParent(QWidget* Window)
{
    return Window && Window->isVisible() ? Window : nullptr;
}
