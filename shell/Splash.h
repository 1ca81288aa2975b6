// The splash window shown during start-up, for at least three seconds.
#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class FrmSplash;
}

class TFrmSplash : public QWidget {
    Q_OBJECT
public:
    explicit TFrmSplash(QWidget* Parent = nullptr);
    ~TFrmSplash() override;
    Ui::FrmSplash& Controls() { return *Form; }
    // The close query: true once the timer has fired.
    bool CloseQuery() const { return SplashMayClose; }
    QTimer Timer1;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    std::unique_ptr<Ui::FrmSplash> Form;
    bool SplashMayClose = false;
};
