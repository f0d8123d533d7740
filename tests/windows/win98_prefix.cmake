# Makes the Wine prefix named by WINEPREFIX report Windows 98: GetVersion()
# then has bit 31 set, and orvexportio.dll takes its port-instruction path.
function(run_wine)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "'${ARGN}' failed with ${status}")
  endif()
endfunction()

run_wine(${WINE} wineboot -i)
run_wine(${WINE} reg add "HKCU\\Software\\Wine" /v Version /d win98 /f)
execute_process(COMMAND wineserver -w)
