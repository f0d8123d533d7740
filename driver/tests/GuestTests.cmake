# The modules built with Kbuild, and the tests in a kernel booted under QEMU.
#
# orvex_add_guest_test(NAME name
#                      [SCRIPTS script...]        guest test scripts, run in order
#                      [PROGRAMS host=guest...]   executables, with their shared libraries
#                      [FILES host=guest...]      other files
#                      [MODULES host.ko...]       more kernel modules, into /modules
#                      [TIMEOUT seconds]          600 unless told
#                      [APPEND 'kernel arguments'] added to the guest kernel's command line
#                      [EXPECT_FAILURE script...] passes only when exactly these scripts
#                                                 fail (a harness self-check)
#                      [SELF_CHECK])              the driver's self-check instead (see
#                                                 self_check.sh)
#
# Every guest holds busybox, the orvex and orvex_sim modules in /modules, the
# test program /bin/orvex_guest_test and /lib/orvex/guest_lib.sh. Host paths
# may be generator expressions, so that a later test can bring the library
# and orvexctl in, e.g. PROGRAMS $<TARGET_FILE:orvexctl>=/bin/orvexctl. The
# function exists only where the guest tests are on and the kernel headers
# installed: a caller in another directory (added after driver/) asks
# if(COMMAND orvex_add_guest_test) first.

set(guest_dir ${CMAKE_CURRENT_SOURCE_DIR})

# The kernel release: the one the linux-headers-amd64 package brought in,
# unless told.
set(ORVEX_KERNEL_RELEASE "" CACHE STRING
    "Kernel release to build the modules for and boot (default: the installed linux-headers-amd64's)")
set(kernel_release "${ORVEX_KERNEL_RELEASE}")
if(NOT kernel_release)
  execute_process(COMMAND dpkg-query -W -f=\${Depends} linux-headers-amd64
                  OUTPUT_VARIABLE headers_depends ERROR_QUIET)
  if(headers_depends MATCHES "linux-headers-([^ ,]+-amd64)")
    set(kernel_release ${CMAKE_MATCH_1})
  endif()
endif()
set(kernel_build_dir /usr/src/linux-headers-${kernel_release})

if(NOT kernel_release OR NOT EXISTS ${kernel_build_dir}/Makefile)
  # Configures all the same, like the other tests whose tools are missing,
  # and the guest test says what to install.
  message(STATUS "Guest tests: no kernel headers (linux-headers-amd64); they will fail")
  add_test(NAME driver.guest COMMAND sh -c
    "echo 'the guest tests need linux-headers-amd64 (tools/dev test installs it)'; exit 1")
  return()
endif()
message(STATUS "Guest tests: modules for and boots of ${kernel_release}")

# ---- The modules, built into the build tree from a copy of their sources ----
set(module_dir ${CMAKE_CURRENT_BINARY_DIR}/module)
set(module_flags "ORVEX_SIM=1")
if(ORVEX_WARNINGS_AS_ERRORS)
  string(APPEND module_flags " ORVEX_WERROR=1")
endif()
file(GLOB module_sources CONFIGURE_DEPENDS ${driver_dir}/*.c ${driver_dir}/*.h)
set(modules ${module_dir}/orvex.ko ${module_dir}/orvex_sim.ko)
add_custom_command(
  OUTPUT ${modules}
  COMMAND ${CMAKE_COMMAND} -E env "ORVEX_MAKE_FLAGS=${module_flags}"
          ${guest_dir}/build_module.sh ${driver_dir} ${pc_devices} ${kernel_build_dir}
          ${module_dir}
  COMMAND ${CMAKE_COMMAND} -E touch ${modules}
  DEPENDS ${module_sources} ${driver_dir}/Kbuild ${pc_devices} ${guest_dir}/build_module.sh
  COMMENT "Building the orvex kernel modules with Kbuild for ${kernel_release}"
  VERBATIM)
add_custom_target(orvex_modules ALL DEPENDS ${modules})

# ---- The test program the guest runs: static, so it needs no libraries ----
add_executable(orvex_guest_test guest/orvex_guest_test.c)
target_include_directories(orvex_guest_test PRIVATE ${driver_dir})
target_link_options(orvex_guest_test PRIVATE -static)

# ---- The kernel image, downloaded once per build tree ----
set(kernel_dir ${CMAKE_CURRENT_BINARY_DIR}/kernel)
add_test(NAME driver.guest.kernel_image
  COMMAND ${guest_dir}/fetch_kernel.sh ${kernel_release} ${kernel_dir})
set_tests_properties(driver.guest.kernel_image PROPERTIES
  FIXTURES_SETUP orvex_kernel_image TIMEOUT 600 LABELS guest)

# What orvex_add_guest_test needs, for callers in other directories too.
set(ORVEX_GUEST_HARNESS ${guest_dir} CACHE INTERNAL "")
set(ORVEX_GUEST_MODULES ${module_dir} CACHE INTERNAL "")
set(ORVEX_GUEST_KERNEL_IMAGE ${kernel_dir}/vmlinuz CACHE INTERNAL "")
set(ORVEX_GUEST_SELF_CHECK_ARGUMENTS ${driver_dir} ${pc_devices} ${kernel_build_dir}
    CACHE INTERNAL "")

function(orvex_add_guest_test)
  cmake_parse_arguments(PARSE_ARGV 0 guest "SELF_CHECK" "NAME;TIMEOUT;APPEND"
                        "SCRIPTS;PROGRAMS;FILES;MODULES;EXPECT_FAILURE")
  set(options
    --module ${ORVEX_GUEST_MODULES}/orvex.ko --module ${ORVEX_GUEST_MODULES}/orvex_sim.ko
    --program $<TARGET_FILE:orvex_guest_test>=/bin/orvex_guest_test)
  foreach(module IN LISTS guest_MODULES)
    list(APPEND options --module ${module})
  endforeach()
  foreach(program IN LISTS guest_PROGRAMS)
    list(APPEND options --program ${program})
  endforeach()
  foreach(file IN LISTS guest_FILES)
    list(APPEND options --file ${file})
  endforeach()
  foreach(script IN LISTS guest_SCRIPTS)
    list(APPEND options --test ${script})
  endforeach()
  foreach(script IN LISTS guest_EXPECT_FAILURE)
    list(APPEND options --expect-failure ${script})
  endforeach()
  if(guest_APPEND)
    list(APPEND options --append ${guest_APPEND})
  endif()
  set(work ${CMAKE_CURRENT_BINARY_DIR}/guests/${guest_NAME})
  if(guest_SELF_CHECK)
    set(command ${ORVEX_GUEST_HARNESS}/self_check.sh ${ORVEX_GUEST_SELF_CHECK_ARGUMENTS}
                ${work} ${ORVEX_GUEST_KERNEL_IMAGE})
  else()
    set(command ${ORVEX_GUEST_HARNESS}/run_guest.sh ${work} ${ORVEX_GUEST_KERNEL_IMAGE})
  endif()
  if(NOT guest_TIMEOUT)
    set(guest_TIMEOUT 600)
  endif()
  add_test(NAME ${guest_NAME} COMMAND ${command} ${options})
  # One guest at a time: each keeps a processor busy with TCG.
  set_tests_properties(${guest_NAME} PROPERTIES
    FIXTURES_REQUIRED orvex_kernel_image RESOURCE_LOCK orvex_guest
    TIMEOUT ${guest_TIMEOUT} LABELS guest)
endfunction()

set(guest_scripts)
foreach(script IN ITEMS load exchanges two_processes kill_mid_line busy dead_card unload figures)
  list(APPEND guest_scripts ${guest_dir}/guest/${script}.sh)
endforeach()
orvex_add_guest_test(NAME driver.guest SCRIPTS ${guest_scripts})

# The guest tests catch a broken driver: see self_check.sh.
orvex_add_guest_test(NAME driver.guest.self_check SELF_CHECK)

# The DKMS source tree holds all the module needs: built from it alone, as
# dkms builds it, with the version the project has.
add_test(NAME driver.dkms_source_tree
  COMMAND ${guest_dir}/check_dkms_tree.sh ${driver_dir}/dkms_source.sh
          ${CMAKE_CURRENT_BINARY_DIR}/dkms ${PROJECT_VERSION} ${kernel_build_dir})
set_tests_properties(driver.dkms_source_tree PROPERTIES TIMEOUT 300)
