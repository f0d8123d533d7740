# The one list of what the libraries export. The linker files and the export
# tables the tests expect are all made from these lists.

# The eleven functions every build of the library exports, on the card of
# the factory base (or ORVEXPORTIO_BASE): the card's build and the virtual
# controller's, on every platform.
set(ORVEX_EXPORTS MA MR SV ST DH GH TP OK MT WS RT)

# The card API beside them, in every build: any card, by a handle.
set(ORVEX_CARD_EXPORTS
  orvex_error_message
  orvex_base_conflict
  orvex_default_base
  orvex_open
  orvex_close
  orvex_card_base
  orvex_count_of
  orvex_value_for_count
  orvex_ma
  orvex_mr
  orvex_sv
  orvex_st
  orvex_dh
  orvex_gh
  orvex_tp
  orvex_ok
  orvex_mt
  orvex_ws
  orvex_rt
  orvex_card_holder
)

# Everything the library for the card exports.
set(ORVEX_LIBRARY_EXPORTS ${ORVEX_EXPORTS} ${ORVEX_CARD_EXPORTS})

# What the virtual-controller build exports besides: the bus's own
# functions, and those that act on one card, each twice: orvexsim_<name> on
# the first card and orvexsim_card_<name> on the card at a base.
set(ORVEX_SIM_BUS_FUNCTIONS set_clock clock time add_card first_card share)
set(ORVEX_SIM_CARD_FUNCTIONS
  reset
  line_count
  line
  line_repeats
  set_line_callback
  axis_position
  axis_target
  axis_moving
  fault_silent
  fault_stuck_handshake
  fault_readiness_delay
  fault_dies_after_bytes
  fault_never_acknowledges_byte
  fault_reply_stops_after
  fault_garbled_reply
  fault_overlong_reply
  fault_endless_reply
  clear_faults
  queue_reply
  bytes_taken
  protocol_errors
  record_vcd
  stop_vcd
)
list(TRANSFORM ORVEX_SIM_BUS_FUNCTIONS PREPEND orvexsim_ OUTPUT_VARIABLE orvex_sim_bus_exports)
list(TRANSFORM ORVEX_SIM_CARD_FUNCTIONS PREPEND orvexsim_ OUTPUT_VARIABLE orvex_sim_first_card_exports)
list(TRANSFORM ORVEX_SIM_CARD_FUNCTIONS PREPEND orvexsim_card_ OUTPUT_VARIABLE orvex_sim_card_exports)
set(ORVEX_SIM_EXPORTS
  ${orvex_sim_bus_exports} ${orvex_sim_first_card_exports} ${orvex_sim_card_exports})

# What the diagnosis library exports: why the card's ports cannot be reached,
# and which way the library reaches them.
set(ORVEX_DIAGNOSIS_EXPORTS orvexdiag_explain orvexdiag_explain_card orvexdiag_route
  orvexdiag_route_card)

# The export tables as the tests take them: names joined by commas.
string(JOIN "," ORVEX_EXPORT_TABLE ${ORVEX_LIBRARY_EXPORTS})
string(JOIN "," ORVEX_SIM_EXPORT_TABLE ${ORVEX_LIBRARY_EXPORTS} ${ORVEX_SIM_EXPORTS})
string(JOIN "," ORVEX_DIAGNOSIS_EXPORT_TABLE ${ORVEX_DIAGNOSIS_EXPORTS})

# orvex_export_only(<target> <names>...)
#
# Makes the shared library <target> export exactly <names>, undecorated, and
# nothing else. For Windows builds, 32- or 64-bit, it writes a
# module-definition file, <target>.def, for the DLL <target>.dll (the Windows
# DLLs carry no prefix); for ELF builds a GNU version script, <target>.map.
# Both go into the current binary folder, rewritten only when they change.
function(orvex_export_only target)
  set(names ${ARGN})
  if(WIN32)
    set(dll_name ${target}${CMAKE_SHARED_LIBRARY_SUFFIX})
    list(JOIN names "\n  " def_names)
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    file(CONFIGURE OUTPUT ${def} @ONLY CONTENT
"; Made from cmake/Exports.cmake; do not edit.
; @dll_name@ exports exactly these functions, undecorated, with the C
; calling convention.
LIBRARY @dll_name@
EXPORTS
  @def_names@
")
    target_sources(${target} PRIVATE ${def})
  else()
    list(JOIN names ";\n    " map_names)
    set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    file(CONFIGURE OUTPUT ${map} @ONLY CONTENT
"# Made from cmake/Exports.cmake; do not edit.
{
  global:
    @map_names@;
  local:
    *;
};
")
    target_link_options(${target} PRIVATE -Wl,--version-script=${map})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()
