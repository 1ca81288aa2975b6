// The faces the windows name, mapped to the nearest ones a Linux desktop has.
#pragma once

#include <QApplication>
#include <QFont>

inline void SubstituteFonts()
{
    // The two bitmap faces are narrow: the condensed face keeps their texts inside their controls.
    for (const char* Face : {"MS Sans Serif", "Microsoft Sans Serif"})
        QFont::insertSubstitutions(Face, {"DejaVu Sans Condensed", "Liberation Sans Narrow",
                                          "DejaVu Sans", "Sans Serif"});
    for (const char* Face : {"Arial", "Verdana"})
        QFont::insertSubstitutions(Face, {"Liberation Sans", "DejaVu Sans", "Sans Serif"});
    QFont Base("MS Sans Serif");
    Base.setPixelSize(11);
    QApplication::setFont(Base);
}
