# Runs the tqxml tool on small settings files and checks what it prints, what
# it writes and how it exits. Called by CTest with TQXML and WORK set.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(settings "${WORK}/settings.xml")
file(WRITE "${settings}"
  "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<document>\r\n  <brand>maker</brand>\r\n"
  "  <version>\r\n    <major>1</major>\r\n    <minor>2</minor>\r\n  </version>\r\n"
  "  <language a=\"1\"><lang00><code>0x411</code></lang00></language>\r\n</document>\r\n")

function(expect want_rc want_out)
  execute_process(COMMAND "${TQXML}" ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL want_rc OR NOT out STREQUAL want_out)
    message(FATAL_ERROR "tqxml ${ARGN}\n exit ${rc}, wanted ${want_rc}\n printed [${out}]\n wanted  [${want_out}]\n stderr: ${err}")
  endif()
endfunction()

expect(0 "code 0\n" check "${settings}")
expect(0 "1\n" get "${settings}" version major)
expect(1 "" get "${settings}" version patch)
expect(1 "" get "${settings}" document)
expect(0 "1041\n" int "${settings}" language lang00 code)
expect(0 "-7\n" int --default -7 "${settings}" missing)
expect(0 "language\nversion\nbrand\n" children "${settings}")
expect(0 "minor\nmajor\n" children "${settings}" version)
expect(0 "code\n" children "${settings}" language/lang00)
expect(1 "" children "${settings}" brand)
expect(0 "document\n  language @a=\"1\"\n    lang00\n      code = 0x411\n  version\n    minor = 2\n    major = 1\n  brand = maker\n"
       dump "${settings}")

# A deep document: indentation stops growing, deeper lines carry their level,
# so the output stays proportional to the input.
string(REPEAT "<e>" 5000 open)
file(WRITE "${WORK}/deep.xml" "<?xml version=\"1.0\"?><document>${open}x")
execute_process(COMMAND "${TQXML}" dump "${WORK}/deep.xml" RESULT_VARIABLE rc OUTPUT_VARIABLE out)
string(LENGTH "${out}" length)
string(REPEAT " " 64 indent)
if(NOT rc EQUAL 0 OR length GREATER 500000 OR NOT out MATCHES "\n${indent}.5000. e =\n$")
  message(FATAL_ERROR "tqxml dump of a deep document: exit ${rc}, ${length} bytes")
endif()
# check loads a cut document (code 0) and says that its root is not closed.
execute_process(COMMAND "${TQXML}" check "${WORK}/deep.xml" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "code 0\n" OR NOT err MATCHES "not closed")
  message(FATAL_ERROR "tqxml check of a cut document: exit ${rc} [${out}] [${err}]")
endif()

# set saves in the library's layout; the new element comes first.
expect(0 "" set "${settings}" 5 version patch)
expect(0 "5" get --raw "${settings}" version patch)
set(want "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<document>\r\n  <brand>maker</brand>\r\n"
  "  <version>\r\n    <patch>5</patch>\r\n    <major>1</major>\r\n    <minor>2</minor>\r\n  </version>\r\n"
  "  <language a=\"1\">\r\n    <lang00>\r\n      <code>0x411</code>\r\n    </lang00>\r\n  </language>\r\n"
  "</document>\r\n")
string(CONCAT want ${want})
# Compared as files: file(READ) would drop the CRs.
file(WRITE "${WORK}/want.xml" "${want}")
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${settings}" "${WORK}/want.xml" RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "${settings} differs from ${WORK}/want.xml")
endif()

# A missing file is created; one that does not parse is left alone.
expect(0 "" set "${WORK}/new.xml" x A B)
expect(0 "x\n" get "${WORK}/new.xml" A B)
file(WRITE "${WORK}/bad.xml" "junk")
expect(1 "code 4\n読み込みできない形式のファイルです。\n" check "${WORK}/bad.xml")
expect(2 "" set "${WORK}/bad.xml" 1 a)
file(READ "${WORK}/bad.xml" bad HEX)
if(NOT bad STREQUAL "6a756e6b")
  message(FATAL_ERROR "set changed a file it could not parse")
endif()
expect(2 "" get "${WORK}/missing.xml" a)

# Usage errors.
expect(2 "" get "${settings}")
expect(2 "" frobnicate "${settings}")
expect(2 "" int --default x "${settings}" a)
