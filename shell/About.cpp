#include "shell/About.h"

#include <QPixmap>

#include "shell/Pictures.h"
#include "ui_About.h"

TAbout::TAbout(QWidget* Parent) : QDialog(Parent), Form(std::make_unique<Ui::About>())
{
    Form->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(309, 373);
    setWindowTitle("Marrowtide 1.6b");
    try {
        Form->Image1->setPixmap(QPixmap::fromImage(LoadPicture(":/pictures/About.jpg")));
    } catch (const std::exception&) {
        // The window works without its picture.
    }
    for (const char* Line : {
             "Thank YOU for buying Marrowtide",
             "",
             "Many thanks to:",
             "",
             "The authors of the setup tool:",
             "   the installer of Marrowtide.",
             "The authors of the compressor component:",
             "   the image files and their status panel.",
             "The authors of the LZH codec:",
             "   the compression of \"good\" images.",
             "The authors of the LZRW1/KH codec:",
             "   the compression of \"fast\" images.",
             "",
             "Please direct issues, suggestions & comments to:",
             "support@wendlow-software.example",
         })
        Form->lbThanx->addItem(Line);
    connect(Form->btnOK, &QPushButton::clicked, this, &TAbout::btnOKClick);
}

TAbout::~TAbout() = default;

void TAbout::btnOKClick() { hide(); }
