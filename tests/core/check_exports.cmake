# Fails unless the dynamic symbols that LIBRARY defines are exactly the
# functions of kuvo.h. Run as: cmake -DNM=nm -DLIBRARY=libKuvo.so -P check_exports.cmake
set(expected Kuvoinit Kuvoclose KuvoclosePort KuvocloseALL Kuvosend KuvosendBytes Kuvorecv
             lastSocketError releaseUDP)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(found)
foreach(line IN LISTS lines)
  # "<address> <type> <name>[@<version>]"; absolute version nodes are no exports.
  if(line MATCHES "^[0-9a-fA-F]* +([A-Za-z]) +([^@ ]+)")
    if(NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND found ${CMAKE_MATCH_2})
    endif()
  endif()
endforeach()

list(SORT expected)
list(SORT found)
if(NOT found STREQUAL expected)
  set(extra ${found})
  list(REMOVE_ITEM extra ${expected})
  set(missing ${expected})
  list(REMOVE_ITEM missing ${found})
  message(FATAL_ERROR "exports differ from kuvo.h\n  unexpected: ${extra}\n  missing: ${missing}")
endif()
message(STATUS "exports: ${found}")
