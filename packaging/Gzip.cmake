# cmake -DINPUT=file -DOUTPUT=file.gz -P Gzip.cmake
# Compresses as Debian wants its documentation and manual pages: gzip -9n, with
# neither the file's name nor its time in the output, so every build gives the same bytes.
execute_process(COMMAND gzip -9n -c ${INPUT} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "gzip failed on ${INPUT}: ${result}")
endif()
