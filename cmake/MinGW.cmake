# The MinGW-w64 cross toolchain shared by both Windows architectures. The toolchain file
# of each architecture sets KRV_MINGW_TRIPLE and includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# The posix thread model: std::thread and std::mutex work.
set(CMAKE_C_COMPILER   ${KRV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KRV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KRV_MINGW_TRIPLE}-windres)
set(CMAKE_AR           /usr/bin/${KRV_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${KRV_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KRV_MINGW_TRIPLE})
# Programs (juceaide, python) come from the host; libraries and headers only from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Executables and DLLs carry their C and C++ runtime: they import only Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
