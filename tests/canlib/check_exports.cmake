# The library's dynamic symbol table (a DLL's export table) must hold exactly
# the functions its public header declares.
# cmake -DNM=<nm> -DLIBRARY=<library> -DHEADER=<tarvpcan3.h> -P check_exports.cmake
# cmake -DOBJDUMP=<objdump> -DLIBRARY=<dll> -DHEADER=<tarvpcan3.h> -P check_exports.cmake
file(READ ${HEADER} header)
string(REGEX MATCHALL "\nTARVPCAN3_API[^;(]*[ *]([A-Za-z0-9_]+)\\(" declarations "${header}")
set(declared)
foreach(declaration IN LISTS declarations)
  string(REGEX REPLACE ".*[ *]([A-Za-z0-9_]+)\\($" "\\1" name "${declaration}")
  list(APPEND declared ${name})
endforeach()

set(exported)
if(DEFINED OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY}
                  OUTPUT_VARIABLE table RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
  endif()
  # The names are the lines "\t[   0] CanDelay" of the block that begins
  # with "[Ordinal/Name Pointer] Table" and ends at a blank line.
  string(FIND "${table}" "[Ordinal/Name Pointer] Table" start)
  set(lines)
  if(start GREATER_EQUAL 0)
    string(SUBSTRING "${table}" ${start} -1 table)
    string(FIND "${table}" "\n\n" end)
    string(SUBSTRING "${table}" 0 ${end} table)
    string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" lines "${table}")
  endif()
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] " "" name "${line}")
    list(APPEND exported ${name})
  endforeach()
else()
  execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                  OUTPUT_VARIABLE table RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${table}")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
    list(APPEND exported ${name})
  endforeach()
endif()

list(LENGTH declared count)
list(SORT declared)
list(SORT exported)
if(count EQUAL 0 OR NOT declared STREQUAL exported)
  message(FATAL_ERROR "exports differ from the header\n declared: ${declared}\n exported: ${exported}")
endif()
message(STATUS "${count} exports, as declared")
