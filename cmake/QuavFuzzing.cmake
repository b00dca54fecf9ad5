# The fuzz targets of everything that reads outside input. With QUAV_FUZZ (clang only) they are
# libFuzzer programs; without, each is built with a main() that replays its seeds once, so every
# build checks the targets' properties on them.
if(QUAV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUAV_FUZZ needs clang's libFuzzer: configure with CC=clang CXX=clang++")
  endif()
  # The code under test is instrumented too: libFuzzer follows its branches, ASan and UBSan watch
  # its accesses, and any finding ends the run so that it is kept as a crash input.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
else()
  # FuzzedDataProvider.h is a header of clang's; its folder also holds clang's own versions of
  # the standard headers, so only this one header is taken into the build.
  find_program(CLANG_EXECUTABLE clang REQUIRED)
  execute_process(COMMAND ${CLANG_EXECUTABLE} -print-resource-dir
    OUTPUT_VARIABLE clang_resources OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  configure_file(${clang_resources}/include/fuzzer/FuzzedDataProvider.h
    ${PROJECT_BINARY_DIR}/fuzzer-include/fuzzer/FuzzedDataProvider.h COPYONLY)
endif()

# quav_add_fuzzer(<target> SOURCES <file>... [LIBRARIES <library>...] CORPUS <folder>)
# The target, and its CTest test: with QUAV_FUZZ a few seconds of fuzzing from the seeds in
# CORPUS (label fuzz; what it learns and finds stays in the build folder, <target>.corpus and
# <target>.crash-*), without it one pass over the seeds (label unit).
function(quav_add_fuzzer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CORPUS" "SOURCES;LIBRARIES")
  add_executable(${target} ${arg_SOURCES})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tools/testing)
  if(NOT QUAV_FUZZ)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tools/testing/ReplaySeeds.cpp)
    target_include_directories(${target} SYSTEM PRIVATE ${PROJECT_BINARY_DIR}/fuzzer-include)
    add_test(NAME ${target} COMMAND ${target} ${arg_CORPUS})
    set_tests_properties(${target} PROPERTIES LABELS unit TIMEOUT 60)
    return()
  endif()
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  set(learned ${CMAKE_CURRENT_BINARY_DIR}/${target}.corpus)
  file(MAKE_DIRECTORY ${learned})
  # libFuzzer writes new inputs only into its first corpus folder; the seeds are only read.
  add_test(NAME ${target}
    COMMAND ${target} -max_total_time=5 -timeout=10 -artifact_prefix=${target}.
            ${learned} ${arg_CORPUS}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${target} PROPERTIES LABELS fuzz TIMEOUT 60)
endfunction()
