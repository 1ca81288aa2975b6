# The pictures the windows show and the JPEG codec that reads them.
add_library(marrowtide_pictures STATIC Pictures.cpp)
target_include_directories(marrowtide_pictures PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(marrowtide_pictures PUBLIC Qt6::Gui JPEG::JPEG)

# Read as ":/pictures/Splash.jpg" and so on.
qt_add_resources(marrowtide_pictures "pictures"
  PREFIX "/pictures"
  BASE ${PROJECT_SOURCE_DIR}/resources/pictures
  FILES
    ${PROJECT_SOURCE_DIR}/resources/pictures/Splash.jpg
    ${PROJECT_SOURCE_DIR}/resources/pictures/About.jpg
    ${PROJECT_SOURCE_DIR}/resources/pictures/Floppy.png
    ${PROJECT_SOURCE_DIR}/resources/pictures/Marrowtide.png
)

# Paints the pictures above. Built, never run by the build: its output is kept in the source
# tree. Regenerate with
#   QT_QPA_PLATFORM=offscreen build/bin/marrowtide-make-pictures resources/pictures
# It compiles the codec itself so it does not depend on the resources it makes.
add_executable(marrowtide-make-pictures
  ${PROJECT_SOURCE_DIR}/resources/pictures/MakePictures.cpp
  Pictures.cpp
)
target_include_directories(marrowtide-make-pictures PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(marrowtide-make-pictures PRIVATE Qt6::Gui JPEG::JPEG)
