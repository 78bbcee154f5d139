# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model, for
# std::thread and std::mutex), run under wine for tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRUM_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KESTRUM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUM_MINGW_TRIPLE}-windres)

# Libraries built for this toolchain (libjpeg-turbo, GoogleTest) are installed
# under KESTRUM_WIN_SYSROOT; only there and in the compiler's own folder are
# headers, libraries and pkg-config files looked for, never on the build host.
if(NOT KESTRUM_WIN_SYSROOT AND DEFINED ENV{KESTRUM_WIN_SYSROOT})
    set(KESTRUM_WIN_SYSROOT "$ENV{KESTRUM_WIN_SYSROOT}")
endif()
if(KESTRUM_WIN_SYSROOT)
    # Also for the try-compile projects, which read this file again.
    set(ENV{KESTRUM_WIN_SYSROOT} "${KESTRUM_WIN_SYSROOT}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUM_MINGW_TRIPLE} ${KESTRUM_WIN_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${KESTRUM_WIN_SYSROOT}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(ENV{PKG_CONFIG_PATH} "")

# Windows 10 interfaces, wide-character Win32 calls, 64-bit file offsets in the C
# library; the programs carry their C and C++ runtimes (no DLLs to ship beside them).
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX
                        _FILE_OFFSET_BITS=64 __USE_MINGW_ANSI_STDIO=1)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
