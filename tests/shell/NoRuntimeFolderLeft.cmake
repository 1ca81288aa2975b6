# Runs the window tests' program (listing its tests, as the build's discovery does) with a
# private TMPDIR and no XDG_RUNTIME_DIR, then checks that it left nothing behind.
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env --unset=XDG_RUNTIME_DIR "TMPDIR=${FOLDER}"
          "${PROGRAM}" --gtest_list_tests
  RESULT_VARIABLE Result OUTPUT_QUIET)
file(GLOB Left "${FOLDER}/*")
file(REMOVE_RECURSE "${FOLDER}")
if(NOT Result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} failed: ${Result}")
endif()
if(Left)
  message(FATAL_ERROR "left behind: ${Left}")
endif()
