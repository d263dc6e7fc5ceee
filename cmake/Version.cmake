# Derives both forms of the program's version from project(VERSION): the numbers Windows keeps
# (1.1.0.3) and the text the version resource shows (1.01.0003: major, minor in two digits and
# revision in four, as Visual Basic programs number themselves).

function(qx_zero_pad out value width)
    string(LENGTH "${value}" length)
    while(length LESS width)
        string(PREPEND value "0")
        math(EXPR length "${length} + 1")
    endwhile()
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

set(QX_VERSION_NUMBERS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
qx_zero_pad(qx_minor "${PROJECT_VERSION_MINOR}" 2)
qx_zero_pad(qx_revision "${PROJECT_VERSION_TWEAK}" 4)
set(QX_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${qx_minor}.${qx_revision}")

# The manifest names the exe's own architecture.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QX_MANIFEST_ARCHITECTURE amd64)
else()
    set(QX_MANIFEST_ARCHITECTURE x86)
endif()

set(QX_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file(${PROJECT_SOURCE_DIR}/resources/version.h.in ${QX_GENERATED_DIR}/version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/manifest.xml.in ${QX_GENERATED_DIR}/manifest.xml
               @ONLY)
