# Runs the README's waveform example as a user would, in WORK_DIR with
# orvexctl (from ORVEXCTL_DIR) on the PATH: the orvexctl line that records
# bus.vcd, then the sigrok-cli recipe that decodes it. Fails unless the
# orvexctl line prints what its comment says (the position after the wait,
# not a 0 from before it) and the recipe prints the lines the README shows,
# the number of status polls aside. Variables: README, ORVEXCTL_DIR, WORK_DIR.
cmake_policy(VERSION 3.25)

file(READ ${README} readme)
string(REGEX MATCH "\n(orvexctl --simulate --fast --vcd bus.vcd[^\n]*)" _ "${readme}")
set(record "${CMAKE_MATCH_1}")
string(FIND "${readme}" "**The bus as a waveform.**" waveform_at)
string(SUBSTRING "${readme}" ${waveform_at} -1 waveform)
string(REGEX MATCH "```sh\n(.*)```\n\nwhich prints[^\n]*\n[^\n]*\n\n```\n([^`]*)```" _ "${waveform}")
set(recipe "${CMAKE_MATCH_1}")
set(shown "${CMAKE_MATCH_2}")
if(NOT record OR NOT recipe OR NOT shown)
  message(FATAL_ERROR "the README has no waveform example, recipe or output where expected")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(ENV{PATH} "${ORVEXCTL_DIR}:$ENV{PATH}")
foreach(step record recipe)
  execute_process(COMMAND sh -c "${${step}}" WORKING_DIRECTORY ${WORK_DIR}
    OUTPUT_VARIABLE ${step}_output ERROR_VARIABLE ${step}_error)
endforeach()

string(REGEX MATCH "# [^\n]*, ([^,\n]+)$" _ "${record}")
string(STRIP "${CMAKE_MATCH_1}" position)
if(NOT record_output MATCHES "\n${position}\n$")
  message(FATAL_ERROR "'${record}' printed\n${record_output}${record_error}"
                      "not the position ${position} its comment shows")
endif()
foreach(text recipe_output shown)
  string(REGEX REPLACE " *[0-9]+ TS\n" "N TS\n" ${text} "${${text}}")
endforeach()
if(NOT recipe_output STREQUAL shown)
  message(FATAL_ERROR "the recipe printed\n${recipe_output}\nthe README shows\n${shown}")
endif()
message(STATUS "the README's waveform example prints what it shows")
