// The window tests need an application object; without a display they run offscreen.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "shell/Fonts.h"
#include "tests/support/PrivateProfile.h"

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A private runtime folder for this run only, removed at its end.
    std::optional<TTestFolder> Runtime;
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        Runtime.emplace("marrowtide-runtime");
        ::setenv("XDG_RUNTIME_DIR", Runtime->Path().c_str(), 1);
    }
    int Result = 0;
    {
        QApplication Application(argc, argv);
        SubstituteFonts();
        ::testing::InitGoogleTest(&argc, argv);
        Result = RUN_ALL_TESTS();
    }
    return Result;
}
