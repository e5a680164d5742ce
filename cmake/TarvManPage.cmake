# One manual page: the scdoc source with the project's version put in, turned
# into roff by scdoc and compressed as Debian wants it (gzip -9n: no name, no
# time stamp). Run by the build (packaging/CMakeLists.txt):
#   cmake -DSCDOC=... -DGZIP=... -DVERSION=... -DDATE_EPOCH=... -DSOURCE=NAME.1.scd -DOUTPUT=NAME.1.gz -P TarvManPage.cmake
# DATE_EPOCH is the page's date, the same as the package changelog's.
foreach(variable SCDOC GZIP VERSION DATE_EPOCH SOURCE OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "TarvManPage.cmake needs -D${variable}=...")
  endif()
endforeach()

set(PROJECT_VERSION ${VERSION})
file(READ ${SOURCE} text)
string(CONFIGURE "${text}" text @ONLY)
set(filled ${OUTPUT}.scd)
set(roff ${OUTPUT}.roff)
file(WRITE ${filled} "${text}")

set(ENV{SOURCE_DATE_EPOCH} ${DATE_EPOCH})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${filled} OUTPUT_FILE ${roff}
  RESULT_VARIABLE result ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  file(REMOVE ${roff})
  message(FATAL_ERROR "scdoc ${SOURCE}: ${error}")
endif()
execute_process(COMMAND ${GZIP} -9n --stdout ${roff} OUTPUT_FILE ${OUTPUT}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip ${roff} failed")
endif()
file(REMOVE ${filled} ${roff})
