# The Tango device server's tests, against the virtual controller on the real
# clock. They need an interpreter that imports Debian's python3-tango: the
# system's own python3, which need not be the first python3 on the PATH.
# Without one they are still registered, and fail, naming the package.
set(ORVEX_TANGO_PYTHON "" CACHE FILEPATH "A python3 that imports tango (python3-tango)")
set(tango_python "${ORVEX_TANGO_PYTHON}")
if(NOT tango_python)
  foreach(candidate /usr/bin/python3 ${Python3_EXECUTABLE})
    execute_process(COMMAND ${candidate} -c "import tango"
                    RESULT_VARIABLE imports_tango OUTPUT_QUIET ERROR_QUIET)
    if(imports_tango EQUAL 0)
      set(tango_python ${candidate})
      break()
    endif()
  endforeach()
endif()
if(NOT tango_python)
  message(WARNING "No python3 here imports tango; the tango.* tests will fail. "
                  "Install python3-tango, or name an interpreter with ORVEX_TANGO_PYTHON.")
endif()

foreach(suite IN ITEMS device server_process)
  if(tango_python)
    add_test(NAME tango.${suite}
      COMMAND ${CMAKE_COMMAND} -E env
              PYTHONPATH=${PROJECT_SOURCE_DIR}/bindings/python PYTHONDONTWRITEBYTECODE=1
              ORVEXPORTIO_SIM_LIBRARY=$<TARGET_FILE:orvexportio-sim>
              ORVEXPORTIO_SIM_CLOCK=real
              ${tango_python} -m unittest -v test_tango_${suite}
      WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  else()
    add_test(NAME tango.${suite}
      COMMAND ${CMAKE_COMMAND} -E echo "no python3 imports tango: install python3-tango")
    set_tests_properties(tango.${suite} PROPERTIES WILL_FAIL TRUE)
  endif()
  # The tests end a wedged run themselves after two minutes (a watchdog) and
  # kill the server process they started.
  set_tests_properties(tango.${suite} PROPERTIES TIMEOUT 180)
endforeach()
