# The layers of src/: one static library per folder, each linking only libraries of
# the folders below it. Bottom to top:
set(TARVIK_LAYERS base/os base nsf notes notes/builder notes/capi mail app ui)

# tarvik_layer_headers(<target> <folder>)
# Gives the library of src/<folder> an include root of its own in the build tree that
# holds links to that folder's headers and to nothing else, and makes it the only
# include directory of the library and of everything linking it. A file then finds
# "<folder>/X.h" of its own folder and of the libraries its library links; a header of
# any other folder is not found and the build fails. (The quoted form also searches
# the including file's own folder: scripts/check-layers.py covers what that lets by.)
function(tarvik_layer_headers target folder)
    list(FIND TARVIK_LAYERS ${folder} rank)
    if(rank LESS 0)
        message(FATAL_ERROR "src/${folder} is not in TARVIK_LAYERS (cmake/TarvikLayers.cmake)")
    endif()
    string(REPLACE "/" "_" root_name ${folder})
    set(root ${PROJECT_BINARY_DIR}/layers/${root_name})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root}/${folder})
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.h)
    foreach(header IN LISTS headers)
        get_filename_component(name ${header} NAME)
        file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
    endforeach()
    set_property(TARGET ${target} PROPERTY INCLUDE_DIRECTORIES ${root})
    set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES ${root})
    set_property(TARGET ${target} PROPERTY TARVIK_LAYER ${folder})
endfunction()

# tarvik_add_layer(<target> FOLDER <folder> SOURCES <files...> [USES <libraries...>])
# The static library of src/<folder>. USES names the libraries of lower layers whose
# headers its own headers include (linked PUBLIC); a library of the same or a higher
# layer stops the configuration, so no two layers can ever link each other.
function(tarvik_add_layer target)
    cmake_parse_arguments(ARG "" "FOLDER" "SOURCES;USES" ${ARGN})
    add_library(${target} STATIC ${ARG_SOURCES})
    tarvik_layer_headers(${target} ${ARG_FOLDER})
    list(FIND TARVIK_LAYERS ${ARG_FOLDER} rank)
    foreach(used IN LISTS ARG_USES)
        # The layers below are configured first: a later one is no target yet.
        set(used_rank -1)
        if(TARGET ${used})
            get_target_property(used_folder ${used} TARVIK_LAYER)
            list(FIND TARVIK_LAYERS "${used_folder}" used_rank)
        endif()
        if(used_rank LESS 0 OR NOT used_rank LESS rank)
            message(FATAL_ERROR
                "src/${ARG_FOLDER} may not link ${used}: only libraries of the layers below it")
        endif()
    endforeach()
    target_link_libraries(${target} PUBLIC tarvik_config ${ARG_USES})
endfunction()
