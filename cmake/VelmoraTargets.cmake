# The two target shapes the programs repeat: a folder's sources, and a fuzzer
# with its corpus replayed as a unit test.

# Every .cpp in the calling folder except main.cpp, with this platform's
# platform_*.cpp only: the core library that a program and its tests share.
function(velmora_folder_sources out_var)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(APPLE)
    list(FILTER sources EXCLUDE REGEX "/(main|platform_linux)\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "/(main|platform_macos)\\.cpp$")
  endif()
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()

# velmora_fuzzer(PROGRAM ENTRY CORE_LIBRARY LABEL CORE_SOURCES...)
# PROGRAM_fuzz_replay feeds the seed corpus and every saved crash through the
# entry point with the normal compiler (under the sanitizers in CI). With
# clang, PROGRAM_ENTRY_fuzzer is the coverage-guided libFuzzer target; the
# core sources are compiled into it so that all of them are instrumented.
function(velmora_fuzzer program entry core_library label)
  set(core_sources ${ARGN})
  add_executable(${program}_fuzz_replay ${entry}.cpp ${PROJECT_SOURCE_DIR}/common/fuzz/replay_main.cpp)
  target_link_libraries(${program}_fuzz_replay PRIVATE ${core_library})
  if(VELMORA_TESTS)
    add_test(NAME ${program}_fuzz_corpus_replay COMMAND ${program}_fuzz_replay ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
    set_tests_properties(${program}_fuzz_corpus_replay PROPERTIES LABELS "${label};unit")
  endif()
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  set(fuzzer ${program}_${entry})
  add_executable(${fuzzer} ${entry}.cpp ${core_sources} $<TARGET_PROPERTY:velmora_common,SOURCES>)
  target_include_directories(${fuzzer} PRIVATE ${PROJECT_SOURCE_DIR}/${program} ${PROJECT_SOURCE_DIR}/common)
  # The core library's third-party dependencies; its own code is compiled in.
  get_target_property(dependencies ${core_library} INTERFACE_LINK_LIBRARIES)
  list(REMOVE_ITEM dependencies velmora_common)
  if(dependencies)
    target_link_libraries(${fuzzer} PRIVATE ${dependencies})
  endif()
  target_compile_options(${fuzzer} PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
  # libstdc++ 12 offers std::expected only when __cpp_concepts says C++20
  # concepts are complete; clang 16 implements what it needs (conditionally
  # trivial special members) but still reports the older value.
  if(CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 16)
    target_compile_options(${fuzzer} PRIVATE -Wno-macro-redefined -D__cpp_concepts=202002L)
  endif()
  target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()
