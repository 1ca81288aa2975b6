// The "Convert Format ?" dialog: created hidden at start-up and reused; its buttons end it
// with their modal results.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Port.h"

namespace Ui {
class frmConvert;
}

class TfrmConvert : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConvert(QWidget* Parent = nullptr);
    ~TfrmConvert() override;
    Ui::frmConvert& Controls() { return *Form; }

    // Heading and lines set, shown modally: OK (Convert), Retry or Cancel (also Esc and the
    // close box).
    TModalResult Ask(const std::string& Heading, const std::vector<std::string>& Lines);

private:
    std::unique_ptr<Ui::frmConvert> Form;
};
