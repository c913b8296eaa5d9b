# The publisher's public keys that the programs verify downloads with, built
# in as data: each key's uncompressed P-256 point (0x04, X, Y; 65 bytes) in a
# generated source. MARLIX_UPDATE_KEY is the key in use, MARLIX_UPDATE_KEY_NEXT
# an optional second one that a publisher rotating keys signs with next; a
# signature made with either is good. Both are PEM public keys as
# `openssl ec -pubout` writes them.
#
# A build given no key makes a development key pair in its own folder and
# verifies with that, so that every build checks signatures; the tests and
# the demo sign with its private half (MARLIX_DEVELOPMENT_SIGNING_KEY). A
# release build (MARLIX_RELEASE) is made for shipping and refuses to
# configure without the publisher's key.
#
# MARLIX_UPDATE_KEY_NEXT counts for the configure it is given to only: a key
# once accepted must not stay accepted, unseen, after the publisher drops it.
# It is taken out of the cache here, so a later configure without
# -DMARLIX_UPDATE_KEY_NEXT (a rerun from the build, too) builds in the one key.
# Each key built in is printed with its fingerprint (the SHA-256 of its DER
# public key, as `openssl pkey -pubin -outform DER | sha256sum` gives it).
#
# Sets MARLIX_UPDATE_KEYS_SOURCE (the generated source) and, for a development
# key, MARLIX_DEVELOPMENT_SIGNING_KEY (its private PEM); empty otherwise.

option(MARLIX_RELEASE "A build to ship: it must be given the publisher's key (MARLIX_UPDATE_KEY)" OFF)
set(MARLIX_UPDATE_KEY "" CACHE FILEPATH "PEM public key (openssl ec -pubout) that downloads must be signed with")
# Declared first so that a relative -D path is made absolute as for the other key.
set(MARLIX_UPDATE_KEY_NEXT "" CACHE FILEPATH "A second PEM public key accepted too, for this configure only")
set(next_key "$CACHE{MARLIX_UPDATE_KEY_NEXT}")
unset(MARLIX_UPDATE_KEY_NEXT CACHE)

find_program(MARLIX_OPENSSL openssl)
if(NOT MARLIX_OPENSSL)
  message(FATAL_ERROR "The openssl command is needed to read the update keys (Debian: package openssl; "
                      "scripts/bootstrap installs it).")
endif()

set(MARLIX_DEVELOPMENT_SIGNING_KEY "")
set(keys)
if(MARLIX_UPDATE_KEY)
  list(APPEND keys "${MARLIX_UPDATE_KEY}")
elseif(MARLIX_RELEASE)
  message(FATAL_ERROR "A release build (MARLIX_RELEASE) verifies downloads with the publisher's key: "
                      "give it with -DMARLIX_UPDATE_KEY=FILE (a PEM public key, as openssl ec -pubout writes it).")
else()
  # Made once per build folder and kept, so that reconfiguring keeps what was signed good.
  set(dev_dir "${CMAKE_BINARY_DIR}/update-key")
  set(dev_private "${dev_dir}/development-private.pem")
  set(dev_public "${dev_dir}/development-public.pem")
  if(NOT EXISTS "${dev_private}" OR NOT EXISTS "${dev_public}")
    file(MAKE_DIRECTORY "${dev_dir}")
    execute_process(
      COMMAND "${MARLIX_OPENSSL}" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "${dev_private}"
      RESULT_VARIABLE made ERROR_VARIABLE why)
    if(made EQUAL 0)
      execute_process(COMMAND "${MARLIX_OPENSSL}" pkey -in "${dev_private}" -pubout -out "${dev_public}"
                      RESULT_VARIABLE made ERROR_VARIABLE why)
    endif()
    if(NOT made EQUAL 0)
      file(REMOVE "${dev_private}" "${dev_public}")
      message(FATAL_ERROR "Cannot make a development key pair with openssl: ${why}")
    endif()
  endif()
  message(STATUS "Update key: a development key (${dev_public}); a build to ship needs "
                 "-DMARLIX_RELEASE=ON -DMARLIX_UPDATE_KEY=FILE")
  list(APPEND keys "${dev_public}")
  set(MARLIX_DEVELOPMENT_SIGNING_KEY "${dev_private}")
endif()
if(next_key)
  list(APPEND keys "${next_key}")
endif()
if(MARLIX_RELEASE)
  # A key that a build made for itself signs with a private half that lies
  # beside it, in a build folder: shipped, anyone with that folder could sign.
  foreach(key IN LISTS keys)
    get_filename_component(real "${key}" REALPATH)
    if("${real}/" MATCHES "/update-key/" OR "${key}/" MATCHES "(^|/)update-key/")
      message(FATAL_ERROR "${key} is a build's development key (it lies in an update-key folder): a release "
                          "build takes the publisher's key only.")
    endif()
  endforeach()
endif()

# The DER SubjectPublicKeyInfo of a P-256 key is this fixed header (the EC
# public key and prime256v1 object ids, the bit string's length) and the point.
set(p256_header "3059301306072a8648ce3d020106082a8648ce3d030107034200")
set(points "")
set(index 0)
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/update-key")
foreach(key IN LISTS keys)
  if(NOT EXISTS "${key}")
    message(FATAL_ERROR "No update key at ${key}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${key}")
  set(der "${CMAKE_BINARY_DIR}/update-key/key-${index}.der")
  execute_process(
    COMMAND "${MARLIX_OPENSSL}" ec -pubin -in "${key}" -outform DER -conv_form uncompressed -out "${der}"
    RESULT_VARIABLE read ERROR_VARIABLE why)
  if(NOT read EQUAL 0)
    message(FATAL_ERROR "${key} is not a PEM EC public key (openssl ec -pubout writes one): ${why}")
  endif()
  file(READ "${der}" hex HEX)
  file(SHA256 "${der}" fingerprint)
  file(REMOVE "${der}")
  string(LENGTH "${hex}" hex_length)
  string(SUBSTRING "${hex}" 0 52 header)
  if(NOT hex_length EQUAL 182 OR NOT header STREQUAL p256_header)
    message(FATAL_ERROR "${key} is not a P-256 (prime256v1) key; the programs verify ECDSA P-256 signatures.")
  endif()
  message(STATUS "Update key ${index}: ${key}, SHA-256 fingerprint ${fingerprint}")
  string(SUBSTRING "${hex}" 52 130 point)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " point "${point}")
  string(APPEND points "    {${point}},  // ${key}\n")
  math(EXPR index "${index} + 1")
endforeach()

set(MARLIX_UPDATE_KEYS_SOURCE "${CMAKE_BINARY_DIR}/update-key/update_keys.cpp")
set(MARLIX_UPDATE_KEY_POINTS "${points}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/update_keys.cpp.in" "${MARLIX_UPDATE_KEYS_SOURCE}" @ONLY)
