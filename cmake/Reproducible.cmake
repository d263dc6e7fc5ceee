# Two builds of one commit must give the same exe, wherever and whenever they are made, so that
# anyone can rebuild a release and compare hashes. Measured with binutils 2.40: the only bytes
# that differ are the PE time stamp and, because it covers the time stamp, the PE checksum. The
# linker computes a correct checksum (with -s too), and it takes the time stamp from
# SOURCE_DATE_EPOCH when that is set; nothing else in the exe depends on the build's path, time,
# user or host.
#
# The time stamp is SOURCE_DATE_EPOCH when it is set at configure time (as distribution and
# rebuild tools set it), otherwise the last commit's date. Not zero: the date says which source
# an exe came from to whoever reads its header, and it is the same in every clone of the commit.
# Only without a commit to read (an exported source tree) is it zero.

if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(QX_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
    if(NOT QX_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
        message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970: '${QX_SOURCE_DATE_EPOCH}'")
    endif()
else()
    find_package(Git QUIET)
    set(qx_commit_date "")
    if(GIT_FOUND)
        execute_process(
            COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE qx_commit_date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        # A new commit changes the date: configure again when HEAD or its branch moves, or an
        # incremental build would keep the earlier commit's date.
        execute_process(
            COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path HEAD
                    --git-path logs/HEAD --symbolic-full-name HEAD
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE qx_git_paths OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        string(REPLACE "\n" ";" qx_git_paths "${qx_git_paths}")
        list(POP_BACK qx_git_paths qx_branch)
        if(qx_branch MATCHES "^refs/")
            execute_process(
                COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path ${qx_branch}
                WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE qx_branch_file OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            list(APPEND qx_git_paths "${qx_branch_file}")
        endif()
        foreach(path IN LISTS qx_git_paths)
            if(EXISTS "${path}")
                set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                                                            "${path}")
            endif()
        endforeach()
    endif()
    if(qx_commit_date MATCHES "^[0-9]+$")
        set(QX_SOURCE_DATE_EPOCH "${qx_commit_date}")
    else()
        message(WARNING "No commit to take the PE time stamp from: it is 0")
        set(QX_SOURCE_DATE_EPOCH 0)
    endif()
endif()

# The linker reads SOURCE_DATE_EPOCH from its environment; the launcher gives it the value
# chosen above, and a changed value changes the link command, so the exe is linked again.
function(qx_reproducible_link target)
    set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER
                 ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QX_SOURCE_DATE_EPOCH})
endfunction()
