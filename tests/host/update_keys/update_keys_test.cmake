# The update keys as configure builds them in, over one scratch build folder
# configured again and again: the second key counts for its configure only,
# each key is printed with the fingerprint openssl gives, and a release build
# refuses a build's development key.
# cmake -DSOURCE=... -DWORK=... -DOPENSSL=... -P update_keys_test.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/keys" "${WORK}/other/update-key")
foreach(name a b)
  execute_process(COMMAND "${OPENSSL}" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "${WORK}/${name}.pem"
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${OPENSSL}" pkey -in "${WORK}/${name}.pem" -pubout -out "${WORK}/keys/${name}.pem"
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${OPENSSL}" pkey -pubin -in "${WORK}/keys/${name}.pem" -outform DER -out "${WORK}/${name}.der"
                  COMMAND_ERROR_IS_FATAL ANY)
  file(SHA256 "${WORK}/${name}.der" fingerprint_${name})
endforeach()
file(COPY_FILE "${WORK}/keys/b.pem" "${WORK}/other/update-key/development-public.pem")

# Configures the scratch build with these arguments; sets `result`, `output`
# and `points` (how many keys the generated source holds).
function(configure)
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}/tests/host/update_keys" -B "${WORK}/build"
                          "-DMARLIX_SOURCE_DIR=${SOURCE}" ${ARGN}
                  WORKING_DIRECTORY "${WORK}/keys" RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
  set(points 0)
  if(EXISTS "${WORK}/build/update-key/update_keys.cpp")
    file(STRINGS "${WORK}/build/update-key/update_keys.cpp" lines REGEX "0x04, ")
    list(LENGTH lines points)
  endif()
  set(result "${result}" PARENT_SCOPE)
  set(output "${output}${error}" PARENT_SCOPE)
  set(points "${points}" PARENT_SCOPE)
endfunction()

function(expect what)
  if(NOT (${ARGN}))
    message(FATAL_ERROR "${what}\n${output}")
  endif()
endfunction()

# Relative to the folder cmake runs in, as a user types them.
configure(-DMARLIX_RELEASE=ON -DMARLIX_UPDATE_KEY=a.pem -DMARLIX_UPDATE_KEY_NEXT=b.pem)
expect("both keys are built in" result EQUAL 0 AND points EQUAL 2)
foreach(name a b)
  string(FIND "${output}" "${WORK}/keys/${name}.pem, SHA-256 fingerprint ${fingerprint_${name}}" at)
  expect("key ${name} is printed with its fingerprint" at GREATER -1)
endforeach()
configure()
expect("a configure without the second key builds in the first alone" result EQUAL 0 AND points EQUAL 1)
string(FIND "${output}" "${fingerprint_b}" at)
expect("the dropped key is not printed" at EQUAL -1)

foreach(option MARLIX_UPDATE_KEY MARLIX_UPDATE_KEY_NEXT)
  configure(-D${option}=${WORK}/other/update-key/development-public.pem)
  string(FIND "${output}" "is a build's development key" at)
  expect("a release build refuses ${option} from an update-key folder" NOT result EQUAL 0 AND at GREATER -1)
endforeach()
configure(-DMARLIX_UPDATE_KEY=a.pem)
expect("the refused key did not stay" result EQUAL 0 AND points EQUAL 1)
file(REMOVE_RECURSE "${WORK}")
