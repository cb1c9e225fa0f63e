# The Windows programs run from the build folder as they do from the zip: Qt's libraries,
# the plugins Qt loads as it starts (the window system, the native style, the image format
# of the window's icon) and the MinGW runtime that every program of this compiler needs
# lie beside them. The tests need Qt's test library and the offscreen window system too;
# those are never shipped.
enable_language(RC)
find_package(Qt6 REQUIRED COMPONENTS Test)

# Every Qt library the build links.
set(ZELK_WINDOWS_LIBRARIES Qt6::Core Qt6::Gui Qt6::Widgets Qt6::SerialPort Qt6::Network)
set(ZELK_WINDOWS_PLUGINS
    Qt6::QWindowsIntegrationPlugin Qt6::QWindowsVistaStylePlugin Qt6::QICOPlugin)
set(ZELK_WINDOWS_TEST_ONLY Qt6::Test Qt6::QOffscreenIntegrationPlugin)

# The compiler's runtime, where the compiler itself says it keeps it.
set(ZELK_MINGW_RUNTIME)
foreach(name libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
                    OUTPUT_VARIABLE location OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(location "${location}" REALPATH)
    if(NOT EXISTS "${location}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${name} is")
    endif()
    list(APPEND ZELK_MINGW_RUNTIME "${location}")
endforeach()

# Where a Qt library or plugin goes below a folder: a plugin into the folder of its kind.
function(zelk_qt_file_folder target base result)
    get_target_property(kind ${target} QT_PLUGIN_TYPE)
    if(kind)
        set(${result} ${base}/${kind} PARENT_SCOPE)
    else()
        set(${result} ${base} PARENT_SCOPE)
    endif()
endfunction()

# Copied into the build folder whenever they change.
set(copies)
foreach(target ${ZELK_WINDOWS_LIBRARIES} ${ZELK_WINDOWS_PLUGINS} ${ZELK_WINDOWS_TEST_ONLY})
    zelk_qt_file_folder(${target} ${CMAKE_BINARY_DIR} folder)
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${folder})
endforeach()
foreach(file ${ZELK_MINGW_RUNTIME})
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${CMAKE_BINARY_DIR})
endforeach()
add_custom_target(windows_runtime ALL ${copies} VERBATIM)
add_dependencies(ZelkConfig windows_runtime)
add_dependencies(zelkctl windows_runtime)

# What ships, beside the programs.
foreach(target ${ZELK_WINDOWS_LIBRARIES} ${ZELK_WINDOWS_PLUGINS})
    zelk_qt_file_folder(${target} . folder)
    install(FILES $<TARGET_FILE:${target}> DESTINATION ${folder})
endforeach()
install(FILES ${ZELK_MINGW_RUNTIME} DESTINATION .)

# The program's icon and version, as Explorer and the Start menu show them.
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/ZelkConfig.rc.in
               ${CMAKE_BINARY_DIR}/ZelkConfig.rc @ONLY)
target_sources(ZelkConfig PRIVATE ${CMAKE_BINARY_DIR}/ZelkConfig.rc)
