# One GoogleTest executable per library, registered with CTest.
#   viewmere_add_unit_test(NAME <name> SOURCES <files...> LIBS <libs...> [LABELS <label>])
find_package(GTest REQUIRED)
include(GoogleTest)

function(viewmere_add_unit_test)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  # One label per executable (discovered tests cannot take a list); `ctest -L` takes a regular
  # expression, so "core-threads" is found by both -L core and -L threads.
  # Grabs share their pictures with the desktop's thumbnail cache and keep failure records under
  # the user's cache folder: tests keep both inside the build, never in the home folder.
  gtest_discover_tests(${ARG_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300 ENVIRONMENT "XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache")
endfunction()
