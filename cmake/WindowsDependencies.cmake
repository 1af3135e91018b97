# Third-party libraries of the Windows cross-builds. Debian ships no MinGW
# builds of them, so both are compiled here from Debian's own sources.

include(cmake/KissFftFromSource.cmake)

# GoogleTest from Debian's source (libgtest-dev installs it in /usr/src).
if(VELTROSA_TESTS)
  set(VELTROSA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows tests")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # Its build defines GTest::gtest and GTest::gtest_main itself.
  add_subdirectory(${VELTROSA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
