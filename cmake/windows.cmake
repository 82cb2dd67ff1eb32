# The Windows build: static FFmpeg, x264 and OpenCV from the cross-built prefix, the C and C++
# runtimes and winpthreads linked in, so that orbv.dll needs only Windows' own DLLs.
set(ENV{PKG_CONFIG_LIBDIR} ${ORBV_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
pkg_check_modules(FFMPEG_STATIC REQUIRED libavformat libavcodec libavutil libswscale libswresample)
add_library(PkgConfig::FFMPEG INTERFACE IMPORTED)
target_include_directories(PkgConfig::FFMPEG SYSTEM INTERFACE ${FFMPEG_STATIC_INCLUDE_DIRS})
target_link_libraries(PkgConfig::FFMPEG INTERFACE ${FFMPEG_STATIC_LDFLAGS})

# OpenCV's Windows libraries carry the version in their names (libopencv_core460.a).
find_package(OpenCV REQUIRED COMPONENTS core imgproc PATHS ${ORBV_WINDOWS_DEPS} NO_DEFAULT_PATH)
add_library(orbv_opencv INTERFACE)
target_include_directories(orbv_opencv SYSTEM INTERFACE ${OpenCV_INCLUDE_DIRS})
target_link_libraries(orbv_opencv INTERFACE opencv_imgproc opencv_core)

add_link_options(-static)
add_compile_definitions(_WIN32_WINNT=0x0601)

# orbv.dll exports only the four functions its header marks; nothing of the static libraries.
# Beside it: the import library orbv.lib and orbv.def for hosts built with Microsoft's tools.
function(orbv_windows_dll target)
    target_compile_definitions(orbv_objects PRIVATE ORBV_BUILDING_DLL)
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL
        -Wl,--output-def,${PROJECT_BINARY_DIR}/bin/orbv.def)
    install(FILES ${PROJECT_BINARY_DIR}/bin/orbv.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
        COMPONENT orbv)
endfunction()
