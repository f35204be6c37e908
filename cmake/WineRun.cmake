# How this machine runs the Windows build's programs: under Wine, with the wine, wineboot
# and wineserver of KRV_WINE_BIN_DIR when it is set (the folder scripts/wine32-runtime.sh
# names: a private 32-bit Wine where wine32:i386 cannot be installed), else of the PATH.
# KRV_WINE_ENV goes in front of every command that starts Wine (`cmake -E env`), and the
# Windows tests get it as their environment.
set(KRV_WINE_BIN_DIR "" CACHE PATH "Folder of the wine, wineboot and wineserver to run this build's programs with (empty: the PATH's)")
set(KRV_WINE_ENV)
if(KRV_WINE_BIN_DIR)
    set(KRV_WINE_ENV "PATH=${KRV_WINE_BIN_DIR}:$ENV{PATH}")
endif()
