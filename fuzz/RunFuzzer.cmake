# Runs a fuzz target briefly from the checked-in seed corpus. New inputs the fuzzer finds go to
# a fresh work folder in the build tree, so the checked-in corpus is never written to.
#   cmake -DFUZZER=<executable> -DCORPUS=<seed folder> -DWORK=<work folder> -DRUNS=<n> -P RunFuzzer.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(
    COMMAND "${FUZZER}" -runs=${RUNS} -seed=1 -max_len=600 "${WORK}" "${CORPUS}"
    WORKING_DIRECTORY "${WORK}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed: ${result}")
endif()
