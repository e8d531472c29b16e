# Imported targets for the dependencies. Debian packages: zlib (libz-mingw-w64-dev),
# stb (libstb-dev). Cross-built from Debian sources into DEPS_PREFIX: libcurl, jsoncpp,
# SQLite, the 7z/LZMA C decoder.
if(NOT DEPS_PREFIX OR NOT EXISTS ${DEPS_PREFIX}/lib)
  message(FATAL_ERROR "DEPS_PREFIX is not set or empty; run scripts/deps.sh first")
endif()

function(_dep_lib target libname)
  set(path ${DEPS_PREFIX}/lib/${libname})
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "missing ${path}; run scripts/deps.sh")
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${path}
                        INTERFACE_INCLUDE_DIRECTORIES ${DEPS_PREFIX}/include)
endfunction()

_dep_lib(deps::sqlite3 libsqlite3.a)
_dep_lib(deps::jsoncpp libjsoncpp.a)
_dep_lib(deps::lzma7z  liblzma7z.a)
set_target_properties(deps::lzma7z PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${DEPS_PREFIX}/include/lzma7z)
_dep_lib(deps::curl    libcurl.a)
set_target_properties(deps::curl PROPERTIES
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;bcrypt;secur32;advapi32;normaliz;wldap32")

find_library(MINGW_ZLIB NAMES libz.a z REQUIRED)
add_library(deps::zlib STATIC IMPORTED GLOBAL)
set_target_properties(deps::zlib PROPERTIES IMPORTED_LOCATION ${MINGW_ZLIB})

if(NOT EXISTS /usr/include/stb/stb_image.h)
  message(FATAL_ERROR "stb_image.h missing: install libstb-dev")
endif()
add_library(deps::stb INTERFACE IMPORTED GLOBAL)
# Only the stb folder: the host's own headers must never reach the cross compiler.
set_target_properties(deps::stb PROPERTIES INTERFACE_INCLUDE_DIRECTORIES /usr/include/stb)
