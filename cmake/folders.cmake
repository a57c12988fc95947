# One static library per source folder, made of every .cpp in it, so that a new file needs no
# change here. A folder without sources yet becomes an interface library.
function(morvil_folder_library name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# One test program per tests/ folder, made of every *_test.cpp in it.
function(morvil_folder_tests name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*_test.cpp ${folder}/*_helpers.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    MORVIL_TEST_SUPPORT_DIR="${PROJECT_SOURCE_DIR}/tests/support")
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "MORVIL_BIN_DIR=${MORVIL_BIN_DIR}")
endfunction()
