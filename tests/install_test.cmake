# Installs the build into a fresh prefix and uses it as a host project would.
# Run with cmake -P; STEP is one of:
#   install       cmake --install into PREFIX, and check what landed there
#   find_package  build the C example and a card host with find_package(orvexportio)
#   pkg_config    build the same with the flags pkg-config gives
#   orvexctl      run the installed orvexctl, which finds the library in its
#                 library folder
# Other variables: BUILD_DIR, PREFIX, WORK_DIR, LIBDIR (relative to PREFIX),
# C_COMPILER, GENERATOR, CONSUMER_DIR, HOST_DEMO_SOURCE, VERSION (the project version).

function(run_checked)
  cmake_parse_arguments(RUN "" "OUTPUT" "COMMAND" ${ARGN})
  execute_process(COMMAND ${RUN_COMMAND}
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " shown "${RUN_COMMAND}")
    message(FATAL_ERROR "failed (${status}): ${shown}\n${output}")
  endif()
  if(RUN_OUTPUT)
    set(${RUN_OUTPUT} "${output}" PARENT_SCOPE)
  endif()
endfunction()

function(expect_file path)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endfunction()

# The example host lists the lines the virtual controller received.
function(expect_host_demo_ran program)
  run_checked(COMMAND ${program} OUTPUT output)
  if(NOT output MATCHES "1PA 250\\\\r")
    message(FATAL_ERROR "${program} did not move axis 1 to 2.5:\n${output}")
  endif()
endfunction()

# A host linked against the library asks for it by its SONAME.
function(expect_needs program library)
  find_program(OBJDUMP objdump REQUIRED)
  run_checked(COMMAND ${OBJDUMP} -p ${program} OUTPUT dynamic)
  if(NOT dynamic MATCHES "NEEDED +${library}\n")
    message(FATAL_ERROR "${program} does not ask for ${library}:\n${dynamic}")
  endif()
endfunction()

# Compiles and links `source` with the flags pkg-config gives for `package`.
function(build_with_pkg_config package source program)
  find_program(PKG_CONFIG pkg-config REQUIRED)
  run_checked(COMMAND ${PKG_CONFIG} --cflags --libs ${package} OUTPUT flags)
  run_checked(COMMAND ${PKG_CONFIG} --variable=libdir ${package} OUTPUT libdir)
  string(STRIP "${libdir}" libdir)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run_checked(COMMAND ${C_COMPILER} ${source} ${flags} -Wl,-rpath,${libdir} -o ${program})
endfunction()

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${PREFIX})
  run_checked(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
  foreach(path
      include/orvexportio.h include/orvexportio_sim.h bin/orvexctl
      ${LIBDIR}/liborvexportio.so.${VERSION} ${LIBDIR}/liborvexportio.so.1 ${LIBDIR}/liborvexportio.so
      ${LIBDIR}/liborvexportio-sim.so.${VERSION} ${LIBDIR}/liborvexportio-sim.so.1
      ${LIBDIR}/liborvexportio-sim.so
      ${LIBDIR}/cmake/orvexportio/orvexportioConfig.cmake
      ${LIBDIR}/cmake/orvexportio/orvexportioConfigVersion.cmake
      ${LIBDIR}/pkgconfig/orvexportio.pc ${LIBDIR}/pkgconfig/orvexportio-sim.pc)
    expect_file(${path})
  endforeach()
  find_program(OBJDUMP objdump REQUIRED)
  run_checked(COMMAND ${OBJDUMP} -p ${PREFIX}/${LIBDIR}/liborvexportio.so.${VERSION} OUTPUT dynamic)
  if(NOT dynamic MATCHES "SONAME +liborvexportio.so.1\n")
    message(FATAL_ERROR "liborvexportio has no SONAME liborvexportio.so.1:\n${dynamic}")
  endif()

elseif(STEP STREQUAL "find_package")
  set(build ${WORK_DIR}/find_package)
  file(REMOVE_RECURSE ${build})
  run_checked(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -G ${GENERATOR}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${PREFIX}
    -DHOST_DEMO_SOURCE=${HOST_DEMO_SOURCE})
  run_checked(COMMAND ${CMAKE_COMMAND} --build ${build})
  expect_host_demo_ran(${build}/host_demo)
  expect_needs(${build}/host_demo liborvexportio-sim.so.1)
  expect_needs(${build}/card_host liborvexportio.so.1)

elseif(STEP STREQUAL "pkg_config")
  set(build ${WORK_DIR}/pkg_config)
  file(REMOVE_RECURSE ${build})
  file(MAKE_DIRECTORY ${build})
  set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
  build_with_pkg_config(orvexportio-sim ${HOST_DEMO_SOURCE} ${build}/host_demo)
  build_with_pkg_config(orvexportio ${CONSUMER_DIR}/card_host.c ${build}/card_host)
  expect_host_demo_ran(${build}/host_demo)
  expect_needs(${build}/host_demo liborvexportio-sim.so.1)
  expect_needs(${build}/card_host liborvexportio.so.1)

elseif(STEP STREQUAL "orvexctl")
  run_checked(COMMAND ${PREFIX}/bin/orvexctl --simulate ok ma 2 -1.5 ws 2 tp 2 OUTPUT output)
  if(NOT output STREQUAL "answered\ndelivered\ndone\n-1.5\n")
    message(FATAL_ERROR "the installed orvexctl printed:\n${output}")
  endif()

else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
