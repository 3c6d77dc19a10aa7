# Compiles the help project in STAGE into OUTPUT with CHMCMD. chmcmd reports
# some failures (a missing project) with exit status 0, so the result is
# judged by the file it leaves.
file(REMOVE ${STAGE}/Help.chm ${OUTPUT})
execute_process(COMMAND ${CHMCMD} ${PROJECT}
    WORKING_DIRECTORY ${STAGE}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE out)
if(NOT status EQUAL 0 OR NOT EXISTS ${STAGE}/Help.chm)
    message(FATAL_ERROR "chmcmd could not compile ${PROJECT}:\n${out}")
endif()
file(COPY_FILE ${STAGE}/Help.chm ${OUTPUT})
