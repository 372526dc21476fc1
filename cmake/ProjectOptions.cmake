# Shared build settings and the helpers every folder uses to declare targets.

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# Directory of the shared test data beside the checkout; tests skip when absent.
get_filename_component(VORN_SHARED_DIR "${CMAKE_SOURCE_DIR}/../shared" ABSOLUTE)

set(VORN_WARNINGS -Wall -Wextra)
if(NOT VORN_FUZZ)
  list(APPEND VORN_WARNINGS -Werror)
endif()

set(VORN_EXTRA_FLAGS "")
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # libstdc++ 12 only offers <expected> when the compiler reports C++20 concepts.
  list(APPEND VORN_EXTRA_FLAGS -D__cpp_concepts=202002L -Wno-macro-redefined)
endif()

if(VORN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VORN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VORN_FUZZ needs clang (configure with CXX=clang++-16)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Adds every direct child folder of DIR that has a CMakeLists.txt.
function(vorn_add_child_dirs dir)
  file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*/CMakeLists.txt")
  list(SORT children)
  foreach(child ${children})
    get_filename_component(child_dir "${child}" DIRECTORY)
    add_subdirectory("${child_dir}")
  endforeach()
endfunction()

# Applies the project's warnings and flags to one of our own targets.
function(vorn_target_defaults target)
  target_compile_options(${target} PRIVATE ${VORN_WARNINGS} ${VORN_EXTRA_FLAGS})
  target_compile_features(${target} PUBLIC cxx_std_23)
endfunction()

# vorn_add_library(NAME SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# A static library whose public headers live in the folder's include/.
function(vorn_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/include")
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  vorn_target_defaults(${name})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# vorn_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...])
# A GoogleTest program registered with CTest. In the fuzz tree the target is
# declared (so folders may still set its properties) but never built or run.
function(vorn_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(VORN_FUZZ)
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
  else()
    add_executable(${name} ${ARG_SOURCES})
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    VORN_SHARED_DIR="${VORN_SHARED_DIR}"
    VORN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    VORN_BINARY_DIR="${CMAKE_BINARY_DIR}")
  vorn_target_defaults(${name})
  if(NOT VORN_FUZZ)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# vorn_add_fuzz(NAME SOURCES ... [LIBS ...])
# A libFuzzer program, built only in fuzz mode, placed in <build>/fuzz-bin.
function(vorn_add_fuzz name)
  if(NOT VORN_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  vorn_target_defaults(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/fuzz-bin")
endfunction()

# vorn_add_bench(NAME SOURCES ... [LIBS ...])
function(vorn_add_bench name)
  if(VORN_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    VORN_SHARED_DIR="${VORN_SHARED_DIR}"
    VORN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    VORN_BINARY_DIR="${CMAKE_BINARY_DIR}")
  vorn_target_defaults(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench-bin")
endfunction()

find_package(GTest REQUIRED)
include(GoogleTest)
if(VORN_BENCH AND NOT VORN_FUZZ)
  find_package(benchmark REQUIRED)
endif()
find_package(nlohmann_json 3.11 REQUIRED)
find_package(fmt REQUIRED)
