# The animation player with its clip reader, and the two clips it plays, generated at build time
# beside the program.
add_library(marrowtide_animation STATIC AnimationPlayer.cpp AviClip.cpp)
target_include_directories(marrowtide_animation PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(marrowtide_animation PUBLIC Qt6::Widgets)

add_executable(marrowtide-make-animations ${PROJECT_SOURCE_DIR}/resources/animations/MakeAnimations.cpp)

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/bin/MakeImage.avi ${CMAKE_BINARY_DIR}/bin/MakeDisk.avi
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin
  COMMAND marrowtide-make-animations ${CMAKE_BINARY_DIR}/bin
  DEPENDS marrowtide-make-animations
  COMMENT "Generating MakeImage.avi and MakeDisk.avi"
  VERBATIM)
add_custom_target(animations ALL
  DEPENDS ${CMAKE_BINARY_DIR}/bin/MakeImage.avi ${CMAKE_BINARY_DIR}/bin/MakeDisk.avi)
