// The application's error box for errors a command or a creation step lets through.
#pragma once

#include <string>

class QWidget;

// The application's title: the error box's caption.
inline constexpr const char* ApplicationTitle = "Marrowtide";

// The message as the box shows it: a full stop appended when the last character comes after
// the full stop in the character set ("Cannot open AVI" gains one; a quote mark, a bracket or
// a full stop at the end does not).
std::string ErrorBoxText(const std::string& Message);

// Shows Message with the error icon and the application's title, Detail (where and why) behind
// "Show Details..." when there is one; waits for OK.
void ShowErrorBox(QWidget* Parent, const std::string& Message, const std::string& Detail = {});

// The error box for a settings file that cannot be read, asking whether to move the file aside
// and go on with the default settings. True for Yes.
bool AskToMoveSettingsAside(QWidget* Parent, const std::string& Message);
