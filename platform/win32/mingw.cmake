# Cross-building for Windows with Debian's MinGW-w64, for the processor
# that the toolchain file including this one names. Its posix thread model,
# since the win32 one lacks std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(QUILLO_MINGW ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLO_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
