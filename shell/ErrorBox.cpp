#include "shell/ErrorBox.h"

#include "shell/Boxes.h"
#include "shell/QtText.h"

#include <QMessageBox>

std::string ErrorBoxText(const std::string& Message)
{
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.')
        return Message + ".";
    return Message;
}

void ShowErrorBox(QWidget* Parent, const std::string& Message)
{
    QMessageBox Box(QMessageBox::Critical, ApplicationTitle,
                    ToQString(ErrorBoxText(Message)), QMessageBox::Ok, BoxParent(Parent));
    Box.setObjectName("ErrorBox");
    ArrangeBox(Box);
    Box.exec();
}
