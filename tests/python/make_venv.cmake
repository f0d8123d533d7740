# Makes a fresh virtual environment that sees the system's packages
# (setuptools, wheel) and installs the package at PACKAGE into it with pip,
# offline and without build isolation. Variables: PYTHON, VENV, PACKAGE.
cmake_policy(VERSION 3.25)

function(run_checked)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${shown}\n${output}")
  endif()
endfunction()

file(REMOVE_RECURSE ${VENV})
run_checked(${PYTHON} -m venv --system-site-packages ${VENV})
# pip builds in the package's folder; a build left there from an earlier run
# must not stand in for this one.
file(REMOVE_RECURSE ${PACKAGE}/build ${PACKAGE}/orvexportio.egg-info)
run_checked(${CMAKE_COMMAND} -E env PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1
            ${VENV}/bin/python -m pip install --no-index --no-build-isolation --no-deps
            --quiet ${PACKAGE})
