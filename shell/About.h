// The About window: created hidden at start-up, shown by Help | About, hidden by Close.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class About;
}

class TAbout : public QDialog {
    Q_OBJECT
public:
    explicit TAbout(QWidget* Parent = nullptr);
    ~TAbout() override;
    Ui::About& Controls() { return *Form; }
    void btnOKClick();

private:
    std::unique_ptr<Ui::About> Form;
};
