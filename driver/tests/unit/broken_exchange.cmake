# orvex_break_exchange(FAULT SOURCE COPY FAILING_CASES_VARIABLE)
#
# Writes COPY, SOURCE with the deliberate FAULT in it, and sets the variable
# to the unit test cases that must fail against it. Each change is made by
# pattern and must be seen to apply: a patch that did nothing would let the
# check pass against a sound exchange for the wrong reason.
function(orvex_break_exchange fault source copy failing_cases_variable)
  file(READ ${source} text)
  if(fault STREQUAL "look_at_the_edge_counts")
    string(REPLACE "return now < deadline;" "return now <= deadline;" patched "${text}")
    set(failing_cases
      "Bounds/CommandBoundTest.EndsAsTheCardAllows/ReadyAsTheWindowEnds"
      "Bounds/CommandBoundTest.EndsAsTheCardAllows/AcknowledgedAsTheBoundEnds"
      "Replies/ReplyTest.IsTakenAsFarAsTheCardAndTheBoundsAllow/OfferedAsTheWindowEnds")
  elseif(fault STREQUAL "long_reply_not_drained")
    string(REPLACE "received < ORVEX_REPLY_BOUND" "received < ORVEX_REPLY_SIZE"
           patched "${text}")
    set(failing_cases
      "Replies/ReplyTest.IsTakenAsFarAsTheCardAndTheBoundsAllow/EightyOneBytesDoNot"
      "Replies/ReplyTest.IsTakenAsFarAsTheCardAndTheBoundsAllow/ReplyBoundReachedWithTheLineFeed")
  else()
    message(FATAL_ERROR "unknown exchange fault '${fault}'")
  endif()
  if(patched STREQUAL text)
    message(FATAL_ERROR "the ${fault} patch did not apply to ${source}: bring it up to date")
  endif()
  set(written "")
  if(EXISTS ${copy})
    file(READ ${copy} written)
  endif()
  if(NOT written STREQUAL patched)
    file(WRITE ${copy} "${patched}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  set(${failing_cases_variable} "${failing_cases}" PARENT_SCOPE)
endfunction()
