// Opening a document (the help page) with the desktop's default application.
#pragma once

#include <functional>
#include <string>

class QObject;

// Hands the document at Path (its name matched without regard to case) to the desktop's opener
// and watches the opener until it ends, however long it tries, while the window goes on. Failed
// runs on the window's thread when the document cannot be opened: it is missing, there is no
// opener, the opener cannot start, or it ends with a failure. Nothing runs once Owner is gone.
void OpenDocument(QObject* Owner, const std::string& Path, const std::function<void()>& Failed);
