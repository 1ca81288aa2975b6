#include "shell/UConvert.h"

#include "shell/QtText.h"

#include "ui_UConvert.h"

TfrmConvert::TfrmConvert(QWidget* Parent) : QDialog(Parent), Form(std::make_unique<Ui::frmConvert>())
{
    Form->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(350, 293);
    connect(Form->btnConvert, &QPushButton::clicked, this,
            [this] { done(static_cast<int>(TModalResult::OK)); });
    connect(Form->btnRetry, &QPushButton::clicked, this,
            [this] { done(static_cast<int>(TModalResult::Retry)); });
    connect(Form->btnCancel, &QPushButton::clicked, this,
            [this] { done(static_cast<int>(TModalResult::Cancel)); });
}

TfrmConvert::~TfrmConvert() = default;

TModalResult TfrmConvert::Ask(const std::string& Heading, const std::vector<std::string>& Lines)
{
    Form->lbHeading->setText(ToQString(Heading));
    Form->lbMessage->clear();
    for (const std::string& Line : Lines)
        Form->lbMessage->addItem(ToQString(Line));
    int Result = exec();
    // Esc and the close box reject the dialog: the Cancel result.
    if (Result == QDialog::Rejected)
        return TModalResult::Cancel;
    return static_cast<TModalResult>(Result);
}
