# QXSetup.exe: one self-contained GUI program, no runtime DLL beside it.
enable_language(RC)

add_executable(QXSetup WIN32
    host/ExcelAutomation.cpp
    host/FileSystem.cpp
    host/MessageBoxes.cpp
    host/SettingsStore.cpp
    host/Win32Error.cpp
    host/Win32HostServices.cpp
    host/WinMain.cpp
    ui/fMsgBox.cpp
    ui/PictureResource.cpp
    ui/DpiScaling.cpp
    resources/resources.rc
)
target_compile_definitions(QXSetup PRIVATE UNICODE _UNICODE WINVER=0x0601 _WIN32_WINNT=0x0601)
target_include_directories(QXSetup PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(QXSetup PRIVATE qxcore ole32 oleaut32 uuid)
qx_warnings(QXSetup)

target_compile_options(QXSetup PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-municode -ffunction-sections -fdata-sections>)
target_link_options(QXSetup PRIVATE
    -municode
    -static -static-libgcc -static-libstdc++
    -Wl,--dynamicbase -Wl,--nxcompat
    # Windows 7 is the oldest system served; a 4.0 subsystem would get legacy frame metrics.
    -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,1
    -Wl,--major-os-version,6 -Wl,--minor-os-version,1
    -Wl,--gc-sections
    $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>:-Wl,--high-entropy-va>
    $<$<CONFIG:MinSizeRel,Release>:-s>
)
