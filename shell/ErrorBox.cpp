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

void ShowErrorBox(QWidget* Parent, const std::string& Message, const std::string& Detail)
{
    QMessageBox Box(QMessageBox::Critical, ApplicationTitle,
                    ToQString(ErrorBoxText(Message)), QMessageBox::Ok, BoxParent(Parent));
    Box.setObjectName("ErrorBox");
    if (!Detail.empty())
        Box.setDetailedText(ToQString(Detail));
    ArrangeBox(Box);
    Box.exec();
}

bool AskToMoveSettingsAside(QWidget* Parent, const std::string& Message)
{
    // Every later use of the settings would fail the same way; the way out keeps the old file.
    QMessageBox Box(QMessageBox::Critical, ApplicationTitle, ToQString(ErrorBoxText(Message)),
                    QMessageBox::Yes | QMessageBox::No, BoxParent(Parent));
    Box.setObjectName("DamagedSettingsBox");
    Box.setInformativeText("Move the damaged settings file aside (it is kept under a new name) "
                           "and go on with the default settings?");
    ArrangeBox(Box);
    return Box.exec() == QMessageBox::Yes;
}
