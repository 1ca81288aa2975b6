# Qt's imported targets are local to the folder that found them: find them here as well.
find_package(Qt6 REQUIRED COMPONENTS Gui)
find_package(JPEG REQUIRED)

add_executable(shell_pictures_tests PicturesTest.cpp)
target_link_libraries(shell_pictures_tests PRIVATE marrowtide_pictures GTest::gtest)
gtest_discover_tests(shell_pictures_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 30)
