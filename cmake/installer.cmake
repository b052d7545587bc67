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
# An installer without code, the one kelvane-pack --product makes:
#
#   kelvane_add_installer(NAME <target> PRODUCT <product.ini> PAYLOAD_DIR <dir>
#                         [LICENCE <rtf>] [WARNING <rtf>] [OUTPUT_NAME <name>] [OUTPUT_DIRECTORY <dir>]
#                         [SIGN_CERT <pem> SIGN_KEY <pem> [TIMESTAMP_URL <url>]])
#
# setup.ini is written when configuring from the product's NAME and VERSION; a missing
# document is the short RTF text kelvane-pack makes. SCOPE=user builds the installer and
# its uninstaller from the per-user stub's target kelvane-user instead of kelvane, as
# kelvane-pack then takes kelvane-user.exe. The archive holds the module target
# kelvane-standard, the product file, folders.ini (the empty folders of PAYLOAD_DIR), the
# uninstaller <target>-uninstall (built from the same sources, carrying that setup.ini
# alone, signed too) and PAYLOAD_DIR's tree under payload/<PAYLOAD>/. The tree is listed
# when configuring (CONFIGURE_DEPENDS: a new or removed file configures again); the host
# tool checks the product file against it before it packs, as kelvane-pack does. Names
# holding ';' cannot pass through CMake's lists: pack such a tree with kelvane-pack.
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
    "NAME;SETUP_INI;LICENCE;WARNING;MODULE;OUTPUT_NAME;OUTPUT_DIRECTORY;SIGN_CERT;SIGN_KEY;TIMESTAMP_URL;PRODUCT;\
PAYLOAD_DIR"
    "FILES;PAYLOAD" ${ARGN})
  set(generated_texts)
  set(stub_target kelvane)
  if(K_PRODUCT OR K_PAYLOAD_DIR)
    _kelvane_product_texts()
  endif()
  foreach(required NAME SETUP_INI LICENCE WARNING)
    if(NOT K_${required})
      message(FATAL_ERROR "kelvane_add_installer: ${required} is required")
    endif()
  endforeach()
  if(K_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): unexpected arguments ${K_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET ${stub_target})
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): the ${stub_target} program target must be defined first")
  endif()
  if(K_EMBED AND NOT K_MODULE AND NOT K_PRODUCT)
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): EMBED needs MODULE, the installer loads it from the archive")
  endif()
  if(K_EMBED AND (NOT KELVANE_ARCHIVE_TOOL OR NOT TARGET kelvane_archive_tool))
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): EMBED needs the archive tool "
                        "(KELVANE_ARCHIVE_TOOL, target kelvane_archive_tool): add tools/pack before this call")
  endif()
  foreach(text SETUP_INI LICENCE WARNING)
    get_filename_component(K_${text} "${K_${text}}" ABSOLUTE)
    if(NOT EXISTS "${K_${text}}" AND NOT "${K_${text}}" IN_LIST generated_texts)
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

  # The program's own sources (its compiled resources among them), libraries, include
  # folders and definitions (the per-user stub's pick its manifest), whatever they are
  # today; a second resource script adds the three texts, and the linker merges both into
  # one resource section.
  get_target_property(program_sources ${stub_target} SOURCES)
  get_target_property(program_dir ${stub_target} SOURCE_DIR)
  get_target_property(program_binary_dir ${stub_target} BINARY_DIR)
  get_target_property(program_libraries ${stub_target} LINK_LIBRARIES)
  get_target_property(program_includes ${stub_target} INCLUDE_DIRECTORIES)
  get_target_property(program_definitions ${stub_target} COMPILE_DEFINITIONS)
  get_target_property(program_stamp ${stub_target} KELVANE_BUILD_STAMP_SOURCE)
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
  add_dependencies(${K_NAME} ${stub_target})  # generated sources of the program are built there
  target_link_libraries(${K_NAME} PRIVATE ${program_libraries})
  if(program_includes)
    target_include_directories(${K_NAME} PRIVATE ${program_includes})
  endif()
  if(program_definitions)
    target_compile_definitions(${K_NAME} PRIVATE ${program_definitions})
  endif()
  set_target_properties(${K_NAME} PROPERTIES OUTPUT_NAME ${K_OUTPUT_NAME}
    RUNTIME_OUTPUT_DIRECTORY ${K_OUTPUT_DIRECTORY})
  kelvane_split_debug(${K_NAME})  # before signing: the signature covers the final bytes
  if(K_SIGN_CERT OR K_SIGN_KEY OR K_TIMESTAMP_URL)
    _kelvane_sign(${K_NAME} "${K_SIGN_CERT}" "${K_SIGN_KEY}" "${K_TIMESTAMP_URL}")
  endif()
  kelvane_build_stamp(${K_NAME})  # after every link input above is known

  if(K_PRODUCT)
    _kelvane_product_archive()
    return()
  endif()
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

# The product route's texts, in kelvane_add_installer's scope: setup.ini now, from the
# product's NAME and VERSION as the installer's key=value reader takes them (first line of
# the key, ASCII case ignored, the value after the first '='); the missing documents at
# build time by the host tool, the very texts kelvane-pack makes.
macro(_kelvane_product_texts)
  foreach(refused SETUP_INI MODULE FILES PAYLOAD)
    if(K_${refused})
      message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): ${refused} is not for a PRODUCT installer: "
                          "setup.ini is made from the product file and everything comes from PAYLOAD_DIR")
    endif()
  endforeach()
  if(NOT K_PRODUCT OR NOT K_PAYLOAD_DIR)
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): PRODUCT and PAYLOAD_DIR go together")
  endif()
  if(NOT TARGET kelvane-standard OR NOT KELVANE_ARCHIVE_TOOL OR NOT TARGET kelvane_archive_tool)
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): PRODUCT needs the module target kelvane-standard "
                        "and the archive tool: add modules/standard and tools/pack before this call")
  endif()
  get_filename_component(K_PRODUCT "${K_PRODUCT}" ABSOLUTE)
  get_filename_component(K_PAYLOAD_DIR "${K_PAYLOAD_DIR}" ABSOLUTE)
  if(NOT EXISTS "${K_PRODUCT}" OR NOT IS_DIRECTORY "${K_PAYLOAD_DIR}")
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): PRODUCT ${K_PRODUCT} and the folder PAYLOAD_DIR "
                        "${K_PAYLOAD_DIR} must exist")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${K_PRODUCT})
  set(product_NAME "")
  set(product_VERSION "")
  set(product_PAYLOAD "app")
  set(product_SCOPE "machine")
  set(product_seen)
  file(STRINGS ${K_PRODUCT} product_lines)  # drops the CRs; the host tool checks the line ends
  foreach(line IN LISTS product_lines)
    if(line MATCHES "^([^=]*)=(.*)$")
      string(TOUPPER "${CMAKE_MATCH_1}" key)
      set(value "${CMAKE_MATCH_2}")
      if(key MATCHES "^(NAME|VERSION|PAYLOAD|SCOPE)$" AND NOT key IN_LIST product_seen)
        list(APPEND product_seen ${key})
        set(product_${key} "${value}")
      endif()
    endif()
  endforeach()
  foreach(key NAME VERSION PAYLOAD)
    if(product_${key} STREQUAL "" OR product_${key} MATCHES "[][;\\]")
      message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): ${K_PRODUCT}: ${key} is missing, or holds a "
                          "character that CMake cannot carry (; [ ] \\); kelvane-pack --product reads it")
    endif()
  endforeach()
  # Any other SCOPE value is the host tool's to refuse, with the core's sentence.
  string(TOLOWER "${product_SCOPE}" product_SCOPE)
  if(product_SCOPE STREQUAL "user")
    set(stub_target kelvane-user)
  endif()
  set(K_SETUP_INI ${CMAKE_CURRENT_BINARY_DIR}/${K_NAME}_setup.ini)
  _kelvane_write_if_changed(${K_SETUP_INI}
    "[setup]\r\n${product_NAME}\r\n${product_VERSION}\r\nstandard\r\nkelvane-standard.dll\r\n")
  foreach(document LICENCE WARNING)
    if(NOT K_${document})
      string(TOLOWER ${document} kind)
      set(K_${document} ${CMAKE_CURRENT_BINARY_DIR}/${K_NAME}_${kind}.rtf)
      add_custom_command(OUTPUT ${K_${document}}
        COMMAND ${KELVANE_ARCHIVE_TOOL} --out ${K_${document}} --document ${kind} ${K_PRODUCT}
        DEPENDS ${K_PRODUCT} kelvane_archive_tool ${KELVANE_ARCHIVE_TOOL}
        COMMENT "Writing the ${kind} text of ${K_NAME}"
        VERBATIM)
      list(APPEND generated_texts ${K_${document}})
    endif()
  endforeach()
  set(K_EMBED TRUE)
endmacro()

# The product route's archive, in kelvane_add_installer's scope (after the installer
# target exists): the uninstaller, folders.ini and the payload tree, checked and packed.
macro(_kelvane_product_archive)
  set(uninstaller ${K_NAME}-uninstall)
  set(uninstaller_rc ${CMAKE_CURRENT_BINARY_DIR}/${uninstaller}_texts.rc)
  file(GENERATE OUTPUT ${uninstaller_rc} CONTENT
"// Generated by kelvane_add_installer for ${K_NAME}: its uninstaller carries setup.ini alone.
LANGUAGE 0, 0
455 RCDATA \"${K_SETUP_INI}\"
")
  set_property(SOURCE ${uninstaller_rc} APPEND PROPERTY OBJECT_DEPENDS ${K_SETUP_INI})
  add_executable(${uninstaller} WIN32 ${sources} ${uninstaller_rc})
  add_dependencies(${uninstaller} ${stub_target})
  target_link_libraries(${uninstaller} PRIVATE ${program_libraries})
  if(program_includes)
    target_include_directories(${uninstaller} PRIVATE ${program_includes})
  endif()
  if(program_definitions)
    target_compile_definitions(${uninstaller} PRIVATE ${program_definitions})
  endif()
  set_target_properties(${uninstaller} PROPERTIES OUTPUT_NAME uninstall
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${uninstaller})
  kelvane_split_debug(${uninstaller})
  if(K_SIGN_CERT OR K_SIGN_KEY OR K_TIMESTAMP_URL)
    _kelvane_sign(${uninstaller} "${K_SIGN_CERT}" "${K_SIGN_KEY}" "${K_TIMESTAMP_URL}")
  endif()
  kelvane_build_stamp(${uninstaller})

  # Sorted, as kelvane-pack orders the tree: the same archive from the same folder.
  file(GLOB_RECURSE tree CONFIGURE_DEPENDS LIST_DIRECTORIES true RELATIVE ${K_PAYLOAD_DIR} ${K_PAYLOAD_DIR}/*)
  list(SORT tree)
  set(payload_entries)
  set(payload_sources)
  set(folders_text "")
  set(folder_number 0)
  foreach(path IN LISTS tree)
    if(NOT EXISTS "${K_PAYLOAD_DIR}/${path}")
      message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): a name in ${K_PAYLOAD_DIR} holds ';' (\"${path}\" "
                          "is a piece of it); CMake's lists cannot carry it: rename it or use kelvane-pack --product")
    endif()
    if(NOT IS_DIRECTORY "${K_PAYLOAD_DIR}/${path}")
      list(APPEND payload_entries --entry payload/${product_PAYLOAD}/${path} ${K_PAYLOAD_DIR}/${path})
      list(APPEND payload_sources ${K_PAYLOAD_DIR}/${path})
      continue()
    endif()
    file(GLOB inside LIST_DIRECTORIES true "${K_PAYLOAD_DIR}/${path}/*")
    if(NOT inside)
      math(EXPR folder_number "${folder_number} + 1")
      string(REPLACE "/" "\\" windows_path "${path}")
      string(APPEND folders_text "FOLDER${folder_number}=${windows_path}\r\n")
    endif()
  endforeach()
  if(NOT payload_sources)
    message(FATAL_ERROR "kelvane_add_installer(${K_NAME}): ${K_PAYLOAD_DIR} holds no file")
  endif()
  set(folders_ini ${CMAKE_CURRENT_BINARY_DIR}/${K_NAME}_folders.ini)
  _kelvane_write_if_changed(${folders_ini} "${folders_text}")

  add_custom_command(OUTPUT ${payload}
    COMMAND ${KELVANE_ARCHIVE_TOOL} --check-product ${K_PRODUCT} --setup ${K_SETUP_INI} --out ${payload}
            --entry kelvane-standard.dll $<TARGET_FILE:kelvane-standard>
            --entry product.ini ${K_PRODUCT}
            --entry folders.ini ${folders_ini}
            --entry uninstall.exe $<TARGET_FILE:${uninstaller}>
            ${payload_entries}
    DEPENDS kelvane-standard $<TARGET_FILE:kelvane-standard> ${uninstaller} $<TARGET_FILE:${uninstaller}>
            ${K_PRODUCT} ${K_SETUP_INI} ${folders_ini} ${payload_sources} kelvane_archive_tool ${KELVANE_ARCHIVE_TOOL}
    COMMENT "Checking the product file of ${K_NAME} and packing its payload"
    VERBATIM)
  add_dependencies(${K_NAME} kelvane_archive_tool)
endmacro()

# Writes text (given with its CRs) only when the file would change, so that configuring
# again rebuilds nothing that did not change.
function(_kelvane_write_if_changed path text)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${text}")  # an empty text too: the archive's command depends on the file
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
