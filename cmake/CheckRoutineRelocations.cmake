# cmake -DOBJDUMP=... -DARCHIVE=... -DSECTION=... -P CheckRoutineRelocations.cmake
#
# Code that is copied and run at another address may hold absolute references only: a
# PC-relative one (a call, a branch, a PC-relative load of an address) that leaves the
# code would land on the wrong address in the copy. Fails when SECTION of any object in
# ARCHIVE has a relocation other than R_ARM_ABS32, which the loader fills in before the
# code is copied.
execute_process(COMMAND ${OBJDUMP} -r -j ${SECTION} ${ARCHIVE}
                OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not list ${ARCHIVE}: ${errors}")
endif()
if(NOT listing MATCHES "RELOCATION RECORDS FOR \\[${SECTION}\\]")
  message(FATAL_ERROR "${ARCHIVE} has no relocations listed for section ${SECTION}: is the section still there?")
endif()
string(REGEX MATCHALL "\n[0-9a-f]+ +R_ARM_[A-Z0-9_]+ +[^\n]*" records "${listing}")
set(bad "")
foreach(record IN LISTS records)
  string(STRIP "${record}" record)
  if(NOT record MATCHES " R_ARM_ABS32 ")
    string(APPEND bad "\n  ${record}")
  endif()
endforeach()
if(bad)
  message(FATAL_ERROR "section ${SECTION} of ${ARCHIVE} refers out of itself PC-relatively; "
                      "its copy in RAM would call or read the wrong address:${bad}")
endif()
