# The Tango device server's tests, against the virtual controller on the real
# clock, with the package as pip installed it into the virtual environment
# above (which sees the system's packages) and as cmake --install puts it in
# place. They need an interpreter that imports Debian's python3-tango, which
# only the system's own python3 does. Without one they are still registered,
# and fail, naming the package.
execute_process(COMMAND ${ORVEX_SYSTEM_PYTHON} -c "import tango"
                RESULT_VARIABLE tango_missing OUTPUT_QUIET ERROR_QUIET)
if(tango_missing)
  message(WARNING "${ORVEX_SYSTEM_PYTHON} does not import tango; the tango.* tests will fail. "
                  "Install python3-tango.")
endif()

function(orvex_tango_test name)
  if(tango_missing)
    add_test(NAME ${name}
      COMMAND ${CMAKE_COMMAND} -E echo "${ORVEX_SYSTEM_PYTHON} does not import tango: install python3-tango")
    set_tests_properties(${name} PROPERTIES WILL_FAIL TRUE)
  else()
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E env ${ARGN}
             WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  # The tests end a wedged run themselves after two minutes (a watchdog) and
  # kill the server processes they start.
  set_tests_properties(${name} PROPERTIES TIMEOUT 180)
endfunction()

# In this process with DeviceTestContext, and a server process started by the
# console script pip made.
orvex_tango_test(tango.device ${clean_environment} ORVEXPORTIO_SIM_CLOCK=real
  ${venv_python} -m unittest -v test_tango_device)
orvex_tango_test(tango.server_process ${clean_environment} ORVEXPORTIO_SIM_CLOCK=real
  ORVEX_TEST_TANGO_SERVER=${venv}/bin/orvexportio-tango
  ${venv_python} -m unittest -v test_tango_server_process)
# Several cards in one server process, each in a MultiDeviceTestContext of
# its own process (PyTango runs one context per process).
orvex_tango_test(tango.cards ${clean_environment} ORVEXPORTIO_SIM_CLOCK=real
  ${venv_python} -m unittest -v test_tango_cards)
set_tests_properties(tango.device tango.server_process tango.cards PROPERTIES
  FIXTURES_REQUIRED python_venv)

# The orvexportio-tango that cmake --install put in bin/.
if(DEFINED install_test_dir AND NOT WIN32)
  orvex_tango_test(tango.installed_server ${clean_environment} ORVEXPORTIO_SIM_CLOCK=real
    PYTHONPATH=${install_test_dir}/prefix/${ORVEX_PYTHON_INSTALL_DIR}
    ORVEX_TEST_TANGO_SERVER=${install_test_dir}/prefix/${CMAKE_INSTALL_BINDIR}/orvexportio-tango
    ${ORVEX_SYSTEM_PYTHON} -m unittest -v test_tango_server_process)
  set_tests_properties(tango.installed_server PROPERTIES FIXTURES_REQUIRED installed_prefix)
endif()
