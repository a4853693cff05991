# Shared build rules of the layers.

function(kyvo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KYVO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(KYVO_SANITIZE)
    # A sanitizer finding fails the test that met it instead of scrolling by.
    target_compile_options(${target} PRIVATE -fsanitize=${KYVO_SANITIZE} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${KYVO_SANITIZE})
  endif()
endfunction()

# kyvo_layer(<name> [DEPS <targets>...] [SOURCES <files>...])
# A static library kyvo_<name> (alias kyvo::<name>) from the layer folder's
# *.cpp (not recursive) plus any extra SOURCES; the folder's parent is the
# include root, so code includes "protocol/ByteBuffer.h".
function(kyvo_layer name)
  cmake_parse_arguments(K "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs AND NOT K_SOURCES)
    # A layer that has only headers so far.
    add_library(kyvo_${name} INTERFACE)
    add_library(kyvo::${name} ALIAS kyvo_${name})
    target_include_directories(kyvo_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(kyvo_${name} INTERFACE ${K_DEPS})
    return()
  endif()
  add_library(kyvo_${name} STATIC ${srcs} ${K_SOURCES})
  add_library(kyvo::${name} ALIAS kyvo_${name})
  target_include_directories(kyvo_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(kyvo_${name} PUBLIC ${K_DEPS})
  set_target_properties(kyvo_${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  kyvo_warnings(kyvo_${name})
endfunction()

# kyvo_tests(<name> [DEPS <targets>...] [SOURCES <files>...])
# One GoogleTest binary <name>_tests from the tests/ folder's *.cpp; every
# test case becomes its own CTest test.
function(kyvo_tests name)
  if(NOT KYVO_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(K "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(NOT srcs AND NOT K_SOURCES)
    return()
  endif()
  add_executable(${name}_tests ${srcs} ${K_SOURCES})
  target_link_libraries(${name}_tests PRIVATE ${K_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  kyvo_warnings(${name}_tests)
  gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                       PROPERTIES TIMEOUT 120)
endfunction()

# kyvo_benchmark(<name> SOURCES <files>... [DEPS <targets>...])
# A Google Benchmark program; benchmarks are run by hand, never by CTest.
function(kyvo_benchmark name)
  if(NOT KYVO_BUILD_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(K "" "" "DEPS;SOURCES" ${ARGN})
  add_executable(${name} ${K_SOURCES})
  target_link_libraries(${name} PRIVATE ${K_DEPS} benchmark::benchmark)
  kyvo_warnings(${name})
endfunction()
