# Shared build rules of the project's own code.

# Floating-point results must match to the bit: no contraction, no fast-math.
add_compile_options(-ffp-contract=off)

if(QUILLARY_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QUILLARY_THREAD_SANITIZE)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

function(quillary_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# quillary_library(<name> [SHARED|STATIC] [DEPS ...]): all *.cpp of the current folder.
function(quillary_library name)
  cmake_parse_arguments(ARG "SHARED;STATIC" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(ARG_SHARED)
    add_library(${name} SHARED ${srcs})
  else()
    add_library(${name} STATIC ${srcs})
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  quillary_warnings(${name})
endfunction()

# quillary_test(<name> [DEPS ...] [SOURCES ...]): one test program from all *.cpp of the current folder,
# or from the sources given.
function(quillary_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  if(ARG_SOURCES)
    set(srcs ${ARG_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  quillary_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QUILLARY_BIN=${CMAKE_BINARY_DIR}/bin")
  if(QUILLARY_THREAD_SANITIZE)
    # Qt is not built for ThreadSanitizer: a test program that would load it fails to build.
    add_custom_command(TARGET ${name} POST_BUILD VERBATIM
      COMMAND sh -c "! readelf -d \"$1\" | grep -q 'NEEDED.*libQt' || { echo \"$1 loads Qt\" >&2; exit 1; }"
              sh $<TARGET_FILE:${name}>)
  endif()
endfunction()
