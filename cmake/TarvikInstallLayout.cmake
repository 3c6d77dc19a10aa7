# TARVIK_DATA_FROM_PROGRAM: the data folder as the installed program finds it from its
# own folder. Relative when both folders are, so that an install under any prefix
# (cmake --install --prefix, a package's staging folder) still finds it; "" when the
# data is beside the program.
set(prefix /tarvik-prefix)
cmake_path(ABSOLUTE_PATH TARVIK_INSTALL_DIR BASE_DIRECTORY ${prefix} NORMALIZE
           OUTPUT_VARIABLE programs)
cmake_path(ABSOLUTE_PATH TARVIK_DATA_INSTALL_DIR BASE_DIRECTORY ${prefix} NORMALIZE
           OUTPUT_VARIABLE data)
if(IS_ABSOLUTE ${TARVIK_DATA_INSTALL_DIR})
    set(TARVIK_DATA_FROM_PROGRAM ${data})
else()
    file(RELATIVE_PATH TARVIK_DATA_FROM_PROGRAM ${programs} ${data})
endif()
unset(prefix)
unset(programs)
unset(data)
