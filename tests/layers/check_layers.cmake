# Fails when a source file under src/ includes a header of a layer it may not
# depend on, or when a Qt-free layer includes a Qt header.
#
#   cmake -DSOURCE_DIR=<project>/src -P check_layers.cmake
#
# Each layer lists the layers it may include, itself apart. A folder under
# src/ that is missing from the table fails too, so a new layer is placed on
# purpose.

set(core model platform formats i18n analysis cleanup)
set(allowed_model "")
set(allowed_product "")
set(allowed_platform model)
set(allowed_formats model platform)
set(allowed_i18n model platform)
set(allowed_analysis model platform formats i18n)
set(allowed_cleanup model platform formats i18n)
set(allowed_docs model platform i18n)
set(allowed_cli ${core} docs)
set(allowed_desktop model platform)
set(allowed_viewmodel ${core} docs desktop)
set(allowed_ui ${core} docs desktop viewmodel)
set(allowed_app ${core} docs desktop viewmodel ui)
# Only these may include Qt (or QCoro) headers.
set(qt_layers desktop viewmodel ui app)

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(failures "")
set(count 0)
file(GLOB layers LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
foreach(layer ${layers})
    if(NOT IS_DIRECTORY ${SOURCE_DIR}/${layer})
        continue()
    endif()
    math(EXPR count "${count} + 1")
    if(NOT DEFINED allowed_${layer})
        list(APPEND failures "src/${layer}: a layer missing from tests/layers/check_layers.cmake")
        continue()
    endif()
    file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
        ${SOURCE_DIR}/${layer}/*.cpp ${SOURCE_DIR}/${layer}/*.hpp ${SOURCE_DIR}/${layer}/*.in)
    foreach(source ${sources})
        file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
        foreach(line ${includes})
            if(line MATCHES "#[ \t]*include[ \t]*\"([A-Za-z0-9_]+)/")
                set(target ${CMAKE_MATCH_1})
                if(NOT target STREQUAL layer AND IS_DIRECTORY ${SOURCE_DIR}/${target})
                    list(FIND allowed_${layer} ${target} index)
                    if(index EQUAL -1)
                        list(APPEND failures "src/${source}: ${layer} may not include ${target} (${line})")
                    endif()
                endif()
            elseif(line MATCHES "#[ \t]*include[ \t]*<(Q[A-Za-z]|qcoro)")
                list(FIND qt_layers ${layer} index)
                if(index EQUAL -1)
                    list(APPEND failures "src/${source}: Qt in the Qt-free layer ${layer} (${line})")
                endif()
            endif()
        endforeach()
    endforeach()
endforeach()

if(failures)
    list(JOIN failures "\n" text)
    message(FATAL_ERROR "Includes that cross a layer the wrong way:\n${text}")
endif()
message(STATUS "Every include of the ${count} layers under src/ keeps to its layer")
