# QXSetup.exe: one self-contained GUI program, no runtime DLL beside it. One library per
# folder, so that the link graph is the folders' one-way order:
# app (the exe) -> ui -> host, and app -> installer -> the host interface only.
enable_language(RC)
include(${CMAKE_CURRENT_LIST_DIR}/Reproducible.cmake)

# What every piece of the shipped program is compiled with. No exceptions and no RTTI: the
# code uses neither, and either would link the runtime's unwinder. Function-local statics keep
# their thread-safe start, since the Excel thread runs beside the window's; none has a run-time
# initialiser, whose guard would link the runtime's exception machinery (41 KB: the size check
# in tests/pe fails). Link-time optimisation, because the many small string joins of the
# sequence and its log otherwise repeat the same inlined code in every function (61 KB
# against 69 KB). No identical-code folding: with it, mingw-w64's gcc 12 stopped with an internal
# compiler error at link time (binds_to_current_def_p, in whichever pass met a folded alias
# first) after small, unrelated edits; it saved no byte here (78,336 either way).
function(qx_program_code target)
    set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION TRUE)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WINVER=0x0601 _WIN32_WINNT=0x0601)
    target_compile_options(${target} PRIVATE -municode -fno-exceptions -fno-rtti
                                             -fno-asynchronous-unwind-tables
                                             -ffunction-sections -fdata-sections -fno-ipa-icf)
endfunction()

qx_program_code(qxcore)

# The Win32 operations behind HostServices. They know nothing of the sequence or the window.
add_library(qxhost STATIC
    host/Automation.cpp
    host/CallDeadline.cpp
    host/DesktopUser.cpp
    host/ExcelAutomation.cpp
    host/ExcelThread.cpp
    host/FileNames.cpp
    host/FileSystem.cpp
    host/LogFile.cpp
    host/MessageBoxes.cpp
    host/OneRunAtATime.cpp
    host/SettingsStore.cpp
    host/UserRegistry.cpp
    host/Utf8.cpp
    host/Win32Error.cpp
)
target_include_directories(qxhost PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qxhost PUBLIC ole32 oleaut32 advapi32)
qx_program_code(qxhost)
qx_warnings(qxhost)

# The success window.
add_library(qxui STATIC
    ui/DpiScaling.cpp
    ui/fMsgBox.cpp
    ui/PictureResource.cpp
)
target_link_libraries(qxui PUBLIC qxhost)
qx_program_code(qxui)
qx_warnings(qxui)

# The program: wWinMain, and the host that joins the operations and the window.
add_executable(QXSetup WIN32
    app/SmallRuntime.cpp
    app/Win32HostServices.cpp
    app/WinMain.cpp
    resources/resources.rc
)
target_include_directories(QXSetup PRIVATE ${QX_GENERATED_DIR} ${PROJECT_SOURCE_DIR}/resources)
target_link_libraries(QXSetup PRIVATE qxcore qxui qxhost)
qx_program_code(QXSetup)
qx_reproducible_link(QXSetup)
qx_warnings(QXSetup)
target_link_options(QXSetup PRIVATE
    -municode
    -static
    -Wl,--dynamicbase -Wl,--nxcompat
    # Windows 7 is the oldest system served; a 4.0 subsystem would get legacy frame metrics.
    -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,1
    -Wl,--major-os-version,6 -Wl,--minor-os-version,1
    -Wl,--gc-sections
    # One link-time partition: split into several, gcc 12 made symbols local to one partition and
    # then stopped with an internal compiler error (binds_to_current_def_p, in the alias pass) on
    # a std::variant visitor shared between them. One partition has nothing to split.
    -flto-partition=one
    -Wl,-Map,$<TARGET_FILE_DIR:QXSetup>/QXSetup.map
    $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>:-Wl,--high-entropy-va>
    $<$<CONFIG:MinSizeRel,Release>:-s>
)
