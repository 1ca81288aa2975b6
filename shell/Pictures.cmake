# The pictures the windows show and the JPEG codec that reads them.
find_package(Qt6 REQUIRED COMPONENTS Svg)

# Paints the pictures. Splash.jpg and About.jpg are kept in the source tree;
# regenerate them with
#   build/bin/marrowtide-make-pictures resources/pictures
# The program's icon is painted by the build (below). The tool compiles the codec itself so it
# does not depend on the resources it makes.
add_executable(marrowtide-make-pictures
  ${PROJECT_SOURCE_DIR}/resources/pictures/MakePictures.cpp
  Pictures.cpp Diskette.cpp
)
target_include_directories(marrowtide-make-pictures PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(marrowtide-make-pictures PRIVATE Qt6::Gui Qt6::Svg JPEG::JPEG)

# The program's icon as an icon theme's folders; the desktop files install them from here and the
# window shows the 64-pixel one, so both are one drawing.
set(MARROWTIDE_ICON_DIR ${CMAKE_BINARY_DIR}/icons/hicolor CACHE INTERNAL "")
set(MARROWTIDE_ICON_SIZES 16 24 32 48 64 128 256 CACHE INTERNAL "")
set(IconFiles ${MARROWTIDE_ICON_DIR}/scalable/apps/marrowtide.svg)
foreach(Size IN LISTS MARROWTIDE_ICON_SIZES)
  list(APPEND IconFiles ${MARROWTIDE_ICON_DIR}/${Size}x${Size}/apps/marrowtide.png)
endforeach()
add_custom_command(
  OUTPUT ${IconFiles}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MARROWTIDE_ICON_DIR}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:marrowtide-make-pictures> --icons ${MARROWTIDE_ICON_DIR}
  DEPENDS marrowtide-make-pictures
  COMMENT "Painting the program's icon"
  VERBATIM)
add_custom_target(marrowtide-icons ALL DEPENDS ${IconFiles})

set(WindowIcon ${MARROWTIDE_ICON_DIR}/64x64/apps/marrowtide.png)
set_source_files_properties(${WindowIcon} PROPERTIES QT_RESOURCE_ALIAS Marrowtide.png)

add_library(marrowtide_pictures STATIC Pictures.cpp Diskette.cpp)
target_include_directories(marrowtide_pictures PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(marrowtide_pictures PUBLIC Qt6::Gui JPEG::JPEG)
add_dependencies(marrowtide_pictures marrowtide-icons)

# Read as ":/pictures/Splash.jpg" and so on.
qt_add_resources(marrowtide_pictures "pictures"
  PREFIX "/pictures"
  BASE ${PROJECT_SOURCE_DIR}/resources/pictures
  FILES
    ${PROJECT_SOURCE_DIR}/resources/pictures/Splash.jpg
    ${PROJECT_SOURCE_DIR}/resources/pictures/About.jpg
    ${WindowIcon}
)
