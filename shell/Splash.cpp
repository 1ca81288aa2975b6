#include "shell/Splash.h"

#include <QPixmap>

#include "shell/Pictures.h"
#include "ui_Splash.h"

TFrmSplash::TFrmSplash(QWidget* Parent) : QWidget(Parent), Form(std::make_unique<Ui::FrmSplash>())
{
    Form->setupUi(this);
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setFixedSize(299, 200);
    try {
        Form->Image1->setPixmap(QPixmap::fromImage(LoadPicture(":/pictures/Splash.jpg")));
    } catch (const std::exception&) {
        // The labels still say what starts.
    }
    Timer1.setInterval(3000);
    connect(&Timer1, &QTimer::timeout, this, [this] {
        Timer1.stop();
        SplashMayClose = true;
    });
    Timer1.start();
}

TFrmSplash::~TFrmSplash() = default;

void TFrmSplash::showEvent(QShowEvent* Event)
{
    Form->lblVersion->setText("Ver: 1.6b");
    QWidget::showEvent(Event);
}
