# orvexportio.dll on its Windows 95/98 path, under Wine set to Windows 98 in a
# prefix of its own: the DLL runs its port instructions itself, Wine refuses
# them, and a vectored exception handler in the test program performs them
# on the simulated driver's controller. Included from CMakeLists.txt.

add_executable(orvex_direct_path_test
  direct_path_main.cpp
  direct_path_suite.cpp
  port_instruction_handler.cpp
  host_harness.cpp
  exports_suite.cpp
  failures_suite.cpp
)
target_include_directories(orvex_direct_path_test PRIVATE
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/sim ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(orvex_direct_path_test PRIVATE
  "ORVEX_FIRST_DRIVER=L\"${first_driver}.dll\""
  "ORVEX_SECOND_DRIVER=L\"${second_driver}.dll\"")

# The folder holds the DLL, the test program and the simulated driver under a
# name the DLL never asks for; no DlPortIO.dll or inpout32.dll.
set(direct_path_directory ${CMAKE_CURRENT_BINARY_DIR}/direct-path)
add_custom_command(OUTPUT ${direct_path_directory}/staged.stamp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${direct_path_directory}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:orvexportio>
          $<TARGET_FILE:orvex_direct_path_test> ${direct_path_directory}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:orvex_simulated_DlPortIO>
          ${direct_path_directory}/orvexsim_controller.dll
  COMMAND ${CMAKE_COMMAND} -E touch ${direct_path_directory}/staged.stamp
  DEPENDS orvexportio orvex_direct_path_test orvex_simulated_DlPortIO
  COMMENT "Staging the Windows 95/98 path tests")
add_custom_target(orvex_stage_direct_path ALL DEPENDS ${direct_path_directory}/staged.stamp)

set(win98_environment
  WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix-win98
  WINEARCH=win32
  WINEDEBUG=-all
  WINEDLLOVERRIDES=mscoree,mshtml=)

add_test(NAME windows.direct_path.wine_prefix
  COMMAND ${CMAKE_COMMAND} -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/win98_prefix.cmake)
set_tests_properties(windows.direct_path.wine_prefix PROPERTIES
  FIXTURES_SETUP wine_prefix_win98 ENVIRONMENT "${win98_environment}" TIMEOUT 300)

# One at a time, as the other Wine tests: the link's window runs on the real
# clock.
foreach(suite IN ITEMS direct_path exports replies failures)
  if(suite STREQUAL "direct_path")
    set(name windows.direct_path.instructions)
  else()
    set(name windows.direct_path.${suite})
  endif()
  add_test(NAME ${name}
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${direct_path_directory}/orvex_direct_path_test.exe
            ${suite}
    WORKING_DIRECTORY ${direct_path_directory})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine_prefix_win98 ENVIRONMENT "${win98_environment}" TIMEOUT 180
    RUN_SERIAL TRUE)
endforeach()

# The suite can fail: in the ordinary prefix, an NT-family system, the DLL
# looks for a driver library, finds none here, and no port instruction runs.
add_test(NAME windows.direct_path.fails_on_nt
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${direct_path_directory}/orvex_direct_path_test.exe
          direct_path
  WORKING_DIRECTORY ${direct_path_directory})
set_tests_properties(windows.direct_path.fails_on_nt PROPERTIES
  FIXTURES_REQUIRED wine_prefix ENVIRONMENT "${wine_environment}" TIMEOUT 180 RUN_SERIAL TRUE
  PASS_REGULAR_EXPRESSION
  "FAILED\\] direct_path\\.RunsAsWindows98.*FAILED\\] direct_path\\.OneLineTakesFortyOnePortInstructions")
