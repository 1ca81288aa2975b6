// The program's message boxes look and answer alike on every desktop.
#pragma once

#include <QMessageBox>

// Readies a box, its buttons and details set, before it is shown: the buttons in the order the
// program lists them (OK, Cancel; Yes, No, Cancel; Retry, Cancel) whatever order the desktop
// prefers; the first one the default (Enter) and focused; Esc the Cancel button, or No where
// there is none; details kept to whole lines (a path is never broken inside a name); a fixed
// size with no maximise button.
void ArrangeBox(QMessageBox& Box);

// The parent a box is shown over: the window when it is on screen; none before that, so the
// box comes up centred on the screen rather than over a window that is not there yet.
QWidget* BoxParent(QWidget* Window);
