find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(shell_animation_tests AnimationPlayerTest.cpp)
target_link_libraries(shell_animation_tests PRIVATE marrowtide_animation GTest::gtest Qt6::Widgets)
target_compile_definitions(shell_animation_tests PRIVATE
  ANIMATION_DIR="${CMAKE_BINARY_DIR}/bin"
  MAKE_ANIMATIONS="$<TARGET_FILE:marrowtide-make-animations>")
add_dependencies(shell_animation_tests animations)
gtest_discover_tests(shell_animation_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 30)
