# Cross-compiling the Windows program with clang on Linux, as a second compiler beside g++:
# clang for the mingw-w64 target, against the same mingw-w64 headers and libraries and GCC 12's
# libstdc++ of the posix threading model, with windres for the resources and LLVM's linker.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(KELVANE_MINGW_GCC_DIR /usr/lib/gcc/${KELVANE_MINGW_TRIPLE}/12-posix)

set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${KELVANE_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${KELVANE_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${KELVANE_MINGW_TRIPLE}-windres)

# The mingw-w64 folder as the system root keeps the host's /usr/include out of the search;
# clang would otherwise take the native libstdc++ headers. The posix libstdc++ is named
# explicitly: clang finds none under that root by itself.
set(CMAKE_SYSROOT /usr/${KELVANE_MINGW_TRIPLE})
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${KELVANE_MINGW_GCC_DIR}/include/c++
    ${KELVANE_MINGW_GCC_DIR}/include/c++/${KELVANE_MINGW_TRIPLE}
    ${KELVANE_MINGW_GCC_DIR}/include/c++/backward)
# What g++ predefines for this target and clang does not: this libstdc++ compares type_info
# out of line (tinfo.o), and clang's own copy of the inline comparison would clash with it
# when it is not inlined ("multiple definition of std::type_info::operator==").
set(CMAKE_CXX_FLAGS_INIT "-D__GXX_TYPEINFO_EQUALITY_INLINE=0 -femulated-tls")
# LLVM's linker: the GNU one warns "duplicate section ... has different size" for the type
# names of standard exceptions, which g++ pads in libstdc++ and clang does not.
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${KELVANE_MINGW_GCC_DIR}")
endforeach()
# At the end of every link, after the usual Windows libraries: libstdc++ and then winpthread,
# which its std::thread needs. (The driver adds its own libstdc++ only after everything named
# here, too late for a winpthread named before it.)
set(CMAKE_CXX_STANDARD_LIBRARIES "-lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32 \
-loleaut32 -luuid -lcomdlg32 -ladvapi32 -lstdc++ -lwinpthread"
    CACHE STRING "Libraries linked by default with all C++ applications.")

set(CMAKE_FIND_ROOT_PATH /usr/${KELVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the cross-built executables through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-exec.sh)
