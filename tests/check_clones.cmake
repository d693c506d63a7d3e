# Fails unless the engine library holds the AVX2 clone of the Bezier
# evaluations: a compiler may drop target_clones without a word (clang 14
# does for a function declared before without it).
execute_process(COMMAND ${NM} ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
if(NOT symbols MATCHES "evaluateRun[A-Za-z0-9_]*\\.avx2")
  message(FATAL_ERROR "no AVX2 clone of evaluateRun in ${LIBRARY}")
endif()
