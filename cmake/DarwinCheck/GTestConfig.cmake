# GoogleTest's targets for the macOS configure check only (DarwinCheck.cmake): nothing behind them,
# as nothing is built there.
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest INTERFACE IMPORTED)
  add_library(GTest::gtest_main INTERFACE IMPORTED)
  target_link_libraries(GTest::gtest_main INTERFACE GTest::gtest)
endif()
