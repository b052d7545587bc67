# kv_zlib: the zlib the archive code links. The host's in the native, bench and fuzz trees;
# in the Windows trees the static libz.a of the mingw-w64 package, never its DLL import
# library, so the programs stay one file each.
if(TARGET kv_zlib)
  return()
endif()

add_library(kv_zlib INTERFACE)
if(WIN32)
  # The toolchain's root path is /usr/<triple>; find_* searches only below it.
  find_path(KV_ZLIB_INCLUDE_DIR zlib.h REQUIRED)
  find_library(KV_ZLIB_STATIC_LIBRARY NAMES libz.a REQUIRED NO_CMAKE_ENVIRONMENT_PATH NO_SYSTEM_ENVIRONMENT_PATH)
  if(NOT KV_ZLIB_STATIC_LIBRARY MATCHES "libz\\.a$")
    message(FATAL_ERROR "kv_zlib: expected the static libz.a, found ${KV_ZLIB_STATIC_LIBRARY}")
  endif()
  target_include_directories(kv_zlib INTERFACE ${KV_ZLIB_INCLUDE_DIR})
  target_link_libraries(kv_zlib INTERFACE ${KV_ZLIB_STATIC_LIBRARY})
else()
  find_package(ZLIB REQUIRED)
  target_link_libraries(kv_zlib INTERFACE ZLIB::ZLIB)
endif()
