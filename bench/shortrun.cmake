# Runs tarvBench --short and checks that every case completed and printed its
# JSON line. Usage: cmake -DBENCH=path/to/tarvBench -P shortrun.cmake
execute_process(COMMAND ${BENCH} --short
                RESULT_VARIABLE result
                OUTPUT_VARIABLE output)
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "tarvBench --short ended with ${result}")
endif()
string(REGEX MATCHALL "\n{\"[^\n]*\"case\":\"[^\"]+\"[^\n]*\"ok\":true[^\n]*" complete "\n${output}")
list(LENGTH complete count)
if(count LESS 3)
  message(FATAL_ERROR "expected a complete JSON line for each of the 3 short cases, found ${count}")
endif()
