# Includes are spelled from the project root ("device/MassDevice.h"), but a target sees only its
# own layer and the layers it links: its include directory holds a single link named after its
# folder. An upward include ("app/..." from ops/) therefore finds no file and fails to compile.
function(brev_layer target layer)
    set(dir ${CMAKE_BINARY_DIR}/layers/${layer})
    if(NOT EXISTS ${dir}/${layer})
        file(MAKE_DIRECTORY ${dir})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${layer} ${dir}/${layer} SYMBOLIC)
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        target_include_directories(${target} PRIVATE ${dir})
    else()
        target_include_directories(${target} PUBLIC ${dir})
    endif()
endfunction()
