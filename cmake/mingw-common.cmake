# The settings both mingw-w64 toolchain files share; they set
# CMAKE_SYSTEM_PROCESSOR and VORLAX_MINGW_TRIPLE, then include this file.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: its C++ library has std::mutex, which the unit
# tests' framework needs; the program itself calls Win32 threads directly.
set(CMAKE_C_COMPILER ${VORLAX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLAX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLAX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORLAX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes are linked in, so the .exe needs no DLL beyond
# those every Windows has (kernel32, msvcrt).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
