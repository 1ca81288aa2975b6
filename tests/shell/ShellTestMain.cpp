// The window tests need an application object; without a display they run offscreen.
#include <QApplication>

#include "shell/Fonts.h"
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        static char Runtime[] = "/tmp/marrowtide-runtime-XXXXXX";
        if (::mkdtemp(Runtime))
            ::setenv("XDG_RUNTIME_DIR", Runtime, 1);
    }
    QApplication Application(argc, argv);
    SubstituteFonts();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
