// The window tests need an application object; without a display they run offscreen.
#include <QApplication>

#include "shell/Fonts.h"
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A private runtime folder for this run only, removed at its end.
    std::string Runtime;
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        const char* Temp = std::getenv("TMPDIR");
        std::string Template = std::string(Temp && *Temp ? Temp : "/tmp") + "/marrowtide-runtime-XXXXXX";
        if (::mkdtemp(Template.data())) {
            Runtime = Template;
            ::setenv("XDG_RUNTIME_DIR", Runtime.c_str(), 1);
        }
    }
    int Result = 0;
    {
        QApplication Application(argc, argv);
        SubstituteFonts();
        ::testing::InitGoogleTest(&argc, argv);
        Result = RUN_ALL_TESTS();
    }
    if (!Runtime.empty()) {
        std::error_code Ignored;
        std::filesystem::remove_all(Runtime, Ignored);
    }
    return Result;
}
