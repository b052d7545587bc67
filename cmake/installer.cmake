# kelvane_add_installer: a single-file installer, the program kelvane.exe rebuilt with its
# setup.ini, licence and warning carried as RCDATA 455, 456 and 457 (so no warning box
# appears and nothing beside it can replace them), its install module and any further
# files (install.cfg, payload) copied beside it, or with EMBED carried inside too.
# kelvane.exe itself is left unchanged.
#
#   kelvane_add_installer(NAME <target> SETUP_INI <file> LICENCE <rtf> WARNING <rtf>
#                         [MODULE <target or file>] [FILES <file>...] [PAYLOAD <file>...] [EMBED]
#                         [OUTPUT_NAME <name>] [OUTPUT_DIRECTORY <dir>]
#                         [SIGN_CERT <pem> SIGN_KEY <pem> [TIMESTAMP_URL <url>]])
#
# OUTPUT_NAME (default NAME) names the .exe, and so the caption of its message boxes.
# OUTPUT_DIRECTORY defaults to <runtime output directory>/<NAME>. Building <target>
# builds the module target too and copies everything; setup.ini line 5 is checked
# against the module's file name then. Call after the kelvane target exists.
#
# The installer is built from the program's own sources, resources/kelvane.rc with its
# stub mark (RCDATA 454) among them, so it is a kelvane program to kelvane-pack too.
#
# EMBED (needs MODULE): nothing is copied beside the installer. The module and each
# FILES entry, each at its file name, go into one archive (engine/core/archive.h) built
# by the host tool ${KELVANE_ARCHIVE_TOOL} after the same setup.ini check, carried as
# RCDATA 458; the installer verifies it whole and unpacks it when it installs. The
# output directory then holds only the .exe, and FILES names must differ from each
# other and from the module's (ASCII case ignored). Call after tools/pack is added.
# PAYLOAD files go into the archive's folder "payload", each at its file name, which is
# not unpacked: the module extracts them to their places itself (sdk/kelvane_payload.h).
# Without EMBED they lie beside the installer like FILES.
#
# The installer's debug information is kept beside it in <name>.exe.debug (split_debug.cmake).
#
# SIGN_CERT and SIGN_KEY (PEM files): the finished installer is signed with Authenticode
# by osslsigncode after every link, its digest SHA-256 whatever the tool's default (-h
# sha256), timestamped by TIMESTAMP_URL when given (osslsigncode -t, an Authenticode
# timestamp server). Configuring fails when osslsigncode is missing.
#
# kelvane_sign_file(TARGET <target> SIGN_CERT <pem> SIGN_KEY <pem> [TIMESTAMP_URL <url>])
# signs any executable or DLL target the same way (the install module, kelvane.exe), so
# that what an installer embeds is itself signed: the archive is made from the module
# file after its signing step.

set(KELVANE_INSTALLER_CHECK ${CMAKE_CURRENT_LIST_DIR}/installer_check.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/build_stamp.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/split_debug.cmake)

function(kelvane_add_installer)
  cmake_parse_arguments(K "EMBED"
    "NAME;SETUP_INI;LICENCE;WARNING;MODULE;OUTPUT_NAME;OUTPUT_DIRECTORY;SIGN_CERT;SIGN_KEY;TIMESTAMP_URL"
    "FILES;PAYLOAD" ${ARGN})
  foreach(required NAME SETUP_INI LICENCE WARNING)
    if(NOT K_${required})
      message(FATAL_ERROR "kelvane_add_installer: ${required} is required")
    endif()
  endforeach()
  if(K_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): unexpected arguments ${K_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET kelvane)
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): the kelvane program target must be defined first")
  endif()
  if(K_EMBED AND NOT K_MODULE)
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): EMBED needs MODULE, the installer loads it from the archive")
  endif()
  if(K_EMBED AND (NOT KELVANE_ARCHIVE_TOOL OR NOT TARGET kelvane_archive_tool))
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): EMBED needs the archive tool "
                        "(KELVANE_ARCHIVE_TOOL, target kelvane_archive_tool): add tools/pack before this call")
  endif()
  foreach(text SETUP_INI LICENCE WARNING)
    get_filename_component(K_${text} "${K_${text}}" ABSOLUTE)
    if(NOT EXISTS "${K_${text}}")
      message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): ${text} ${K_${text}} does not exist")
    endif()
  endforeach()
  if(NOT K_OUTPUT_NAME)
    set(K_OUTPUT_NAME ${K_NAME})
  endif()
  if(NOT K_OUTPUT_DIRECTORY)
    if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
      set(K_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${K_NAME})
    else()
      set(K_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${K_NAME})
    endif()
  endif()

  # The program's own sources (its compiled resources among them), libraries and include
  # folders, whatever they are today; a second resource script adds the three texts, and
  # the linker merges both into one resource section.
  get_target_property(program_sources kelvane SOURCES)
  get_target_property(program_dir kelvane SOURCE_DIR)
  get_target_property(program_binary_dir kelvane BINARY_DIR)
  get_target_property(program_libraries kelvane LINK_LIBRARIES)
  get_target_property(program_includes kelvane INCLUDE_DIRECTORIES)
  get_target_property(program_stamp kelvane KELVANE_BUILD_STAMP_SOURCE)
  set(sources)
  foreach(source IN LISTS program_sources)
    if(source STREQUAL program_stamp)
      continue()  # the installer is linked at other times: it gets a stamp of its own
    endif()
    if(NOT IS_ABSOLUTE "${source}" AND NOT EXISTS "${program_dir}/${source}" AND
       EXISTS "${program_binary_dir}/${source}")
      set(source "${program_binary_dir}/${source}")
    endif()
    get_filename_component(source "${source}" ABSOLUTE BASE_DIR "${program_dir}")
    list(APPEND sources ${source})
  endforeach()

  if(K_MODULE AND TARGET ${K_MODULE})
    set(module_file $<TARGET_FILE:${K_MODULE}>)
    set(module_name $<TARGET_FILE_NAME:${K_MODULE}>)
    set(module_depends ${K_MODULE} ${module_file})
  elseif(K_MODULE)
    get_filename_component(module_file "${K_MODULE}" ABSOLUTE)
    get_filename_component(module_name "${K_MODULE}" NAME)
    set(module_depends ${module_file})
  endif()
  set(files)
  foreach(file IN LISTS K_FILES)
    get_filename_component(file "${file}" ABSOLUTE)
    list(APPEND files ${file})
  endforeach()
  set(payload_files)
  foreach(file IN LISTS K_PAYLOAD)
    get_filename_component(file "${file}" ABSOLUTE)
    list(APPEND payload_files ${file})
  endforeach()

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${K_NAME}_texts.rc)
  set(embedded "")
  if(K_EMBED)
    set(payload ${CMAKE_CURRENT_BINARY_DIR}/${K_NAME}_payload.kvpa)
    set(embedded "// The archive of the module and the files it reads.\n458 RCDATA \"${payload}\"\n")
    # The resource compiler reads the archive; this also ties its command to the target.
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${payload})
  endif()
  file(GENERATE OUTPUT ${rc} CONTENT
"// Generated by kelvane_add_installer for ${K_NAME}: the three texts the program would
// otherwise read from files in the current directory.
LANGUAGE 0, 0
455 RCDATA \"${K_SETUP_INI}\"
456 RCDATA \"${K_LICENCE}\"
457 RCDATA \"${K_WARNING}\"
${embedded}")
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${K_SETUP_INI} ${K_LICENCE} ${K_WARNING})

  enable_language(RC)
  add_executable(${K_NAME} WIN32 ${sources} ${rc})
  add_dependencies(${K_NAME} kelvane)  # generated sources of the program are built there
  target_link_libraries(${K_NAME} PRIVATE ${program_libraries})
  if(program_includes)
    target_include_directories(${K_NAME} PRIVATE ${program_includes})
  endif()
  set_target_properties(${K_NAME} PROPERTIES OUTPUT_NAME ${K_OUTPUT_NAME}
    RUNTIME_OUTPUT_DIRECTORY ${K_OUTPUT_DIRECTORY})
  kelvane_split_debug(${K_NAME})  # before signing: the signature covers the final bytes
  if(K_SIGN_CERT OR K_SIGN_KEY OR K_TIMESTAMP_URL)
    _kelvane_sign(${K_NAME} "${K_SIGN_CERT}" "${K_SIGN_KEY}" "${K_TIMESTAMP_URL}")
  endif()
  kelvane_build_stamp(${K_NAME})  # after every link input above is known

  if(K_EMBED)
    # Everything the module reads travels inside, each file at its own name.
    set(entries --file ${module_name}=${module_file})
    foreach(file IN LISTS files)
      get_filename_component(name "${file}" NAME)
      list(APPEND entries --file ${name}=${file})
    endforeach()
    foreach(file IN LISTS payload_files)
      get_filename_component(name "${file}" NAME)
      list(APPEND entries --file payload/${name}=${file})
    endforeach()
    add_custom_command(OUTPUT ${payload}
      COMMAND ${CMAKE_COMMAND} -DSETUP_INI=${K_SETUP_INI} -DMODULE_NAME=${module_name}
              -P ${KELVANE_INSTALLER_CHECK}
      COMMAND ${KELVANE_ARCHIVE_TOOL} --out ${payload} ${entries}
      DEPENDS ${module_depends} ${files} ${payload_files} ${K_SETUP_INI} ${KELVANE_INSTALLER_CHECK}
              kelvane_archive_tool ${KELVANE_ARCHIVE_TOOL}
      COMMENT "Checking setup.ini of ${K_NAME} and packing its install module and files"
      VERBATIM)
    add_dependencies(${K_NAME} kelvane_archive_tool)
    return()
  endif()

  # What lies beside the installer: the module and the further files.
  set(copies)
  if(K_MODULE)
    # A target's file name is known only at generation, so a stamp stands for the copy.
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${K_NAME}_module.stamp)
    add_custom_command(OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -DSETUP_INI=${K_SETUP_INI} -DMODULE_NAME=${module_name}
              -P ${KELVANE_INSTALLER_CHECK}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${K_OUTPUT_DIRECTORY}
      COMMAND ${CMAKE_COMMAND} -E copy ${module_file} ${K_OUTPUT_DIRECTORY}/${module_name}
      COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
      DEPENDS ${module_depends} ${K_SETUP_INI} ${KELVANE_INSTALLER_CHECK}
      COMMENT "Checking setup.ini of ${K_NAME} and copying its install module"
      VERBATIM)
    list(APPEND copies ${stamp})
  endif()
  foreach(file IN LISTS files payload_files)
    get_filename_component(name "${file}" NAME)
    add_custom_command(OUTPUT ${K_OUTPUT_DIRECTORY}/${name}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${K_OUTPUT_DIRECTORY}
      COMMAND ${CMAKE_COMMAND} -E copy ${file} ${K_OUTPUT_DIRECTORY}/${name}
      DEPENDS ${file}
      VERBATIM)
    list(APPEND copies ${K_OUTPUT_DIRECTORY}/${name})
  endforeach()
  if(copies)
    add_custom_target(${K_NAME}_files DEPENDS ${copies})
    add_dependencies(${K_NAME} ${K_NAME}_files)
  endif()
endfunction()

# Authenticode signing after every link of <target>: osslsigncode writes a signed copy,
# which replaces the file (a failed signing fails the build, and the next build links
# again). The certificate and key are link dependencies, so a new one re-signs.
function(_kelvane_sign target cert key url)
  if(NOT cert OR NOT key)
    message(FATAL_ERROR "signing ${target}: SIGN_CERT and SIGN_KEY are both needed")
  endif()
  foreach(pem cert key)
    get_filename_component(${pem} "${${pem}}" ABSOLUTE)
    if(NOT EXISTS "${${pem}}")
      message(FATAL_ERROR "signing ${target}: ${${pem}} does not exist")
    endif()
  endforeach()
  find_program(KELVANE_OSSLSIGNCODE osslsigncode)
  if(NOT KELVANE_OSSLSIGNCODE)
    message(FATAL_ERROR "signing ${target}: osslsigncode was not found. Install it (Debian: "
                        "apt-get install osslsigncode) or set KELVANE_OSSLSIGNCODE to its path.")
  endif()
  set(timestamp)
  if(url)
    set(timestamp -t ${url})
  endif()
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E rm -f ${file}.signed
    COMMAND ${KELVANE_OSSLSIGNCODE} sign -h sha256 -certs ${cert} -key ${key} ${timestamp} -in ${file}
            -out ${file}.signed
    COMMAND ${CMAKE_COMMAND} -E rename ${file}.signed ${file}
    COMMENT "Signing ${target}"
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${cert} ${key})
endfunction()

function(kelvane_sign_file)
  cmake_parse_arguments(S "" "TARGET;SIGN_CERT;SIGN_KEY;TIMESTAMP_URL" "" ${ARGN})
  if(S_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kelvane_sign_file(${S_TARGET}): unexpected arguments ${S_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT S_TARGET OR NOT TARGET ${S_TARGET})
    message(FATAL_ERROR "kelvane_sign_file: TARGET must name an executable or library target, not \"${S_TARGET}\"")
  endif()
  _kelvane_sign(${S_TARGET} "${S_SIGN_CERT}" "${S_SIGN_KEY}" "${S_TIMESTAMP_URL}")
endfunction()
