#include "shell/CompressorPanel.h"

#include "shell/QtText.h"

#include <QCoreApplication>

TCompressorPanel::TCompressorPanel(QWidget* Parent) : QLabel(Parent)
{
    setAutoFillBackground(true);
    setStyleSheet("background: white; color: blue; font-weight: bold;");
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

bool TCompressorPanel::Visible() const { return isVisible(); }

void TCompressorPanel::SetCaption(const std::string& Caption)
{
    setText(ToQString(Caption));
}

// At once, not at the next event: the engine holds the thread between its steps.
void TCompressorPanel::Repaint() { repaint(); }

void TCompressorPanel::ProcessMessages() { QCoreApplication::processEvents(); }
