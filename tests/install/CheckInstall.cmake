# Installs the build into a fresh prefix and into a staging folder (DESTDIR), and checks that the
# desktop entry, the D-Bus service file, the icon, lanternfish-cli with its shell completion, the
# reference server, the manual pages, the AppStream metadata and (once it exists) the program are
# in place, with the service file naming the program where it will finally be.
# -DBUILD_DIR=... -DWORK_DIR=... -DEXPECT_PROGRAM=0|1 -DZSH_COMPLETION_DIR=...
cmake_minimum_required(VERSION 3.24)
file(REMOVE_RECURSE ${WORK_DIR})

function(check_tree root final_prefix)
    set(files
        share/applications/com.Lanternfish.MacClient.desktop
        share/dbus-1/services/com.Lanternfish.MacClient.service
        share/icons/hicolor/scalable/apps/com.Lanternfish.MacClient.svg
        share/icons/hicolor/48x48/apps/com.Lanternfish.MacClient.png
        bin/lanternfish-cli
        bin/lanternfish-devserver
        share/bash-completion/completions/lanternfish-cli
        ${ZSH_COMPLETION_DIR}/_lanternfish-cli
        share/metainfo/com.Lanternfish.MacClient.metainfo.xml
        share/man/man1/lanternfish.1.gz
        share/man/man1/lanternfish-cli.1.gz
        share/man/man1/lanternfish-devserver.1.gz)
    if(EXPECT_PROGRAM)
        list(APPEND files bin/lanternfish)
    endif()
    foreach(f IN LISTS files)
        if(NOT EXISTS ${root}/${f})
            message(FATAL_ERROR "not installed: ${root}/${f}")
        endif()
    endforeach()
    # Only a release archive's tree may be replaced by the updater; a prefix is shared.
    if(EXISTS ${root}/lanternfish-app.json)
        message(FATAL_ERROR "the installation claims the whole prefix: ${root}/lanternfish-app.json")
    endif()
    file(STRINGS ${root}/share/dbus-1/services/com.Lanternfish.MacClient.service service)
    if(NOT "Name=com.Lanternfish.MacClient" IN_LIST service OR NOT "Exec=${final_prefix}/bin/lanternfish" IN_LIST service)
        message(FATAL_ERROR "service file does not start ${final_prefix}/bin/lanternfish: ${service}")
    endif()
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
    RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
    message(FATAL_ERROR "installing into ${WORK_DIR}/prefix failed")
endif()
check_tree(${WORK_DIR}/prefix ${WORK_DIR}/prefix)

execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${WORK_DIR}/stage
    ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
    message(FATAL_ERROR "staged installation failed")
endif()
check_tree(${WORK_DIR}/stage/usr /usr)
file(REMOVE_RECURSE ${WORK_DIR})
