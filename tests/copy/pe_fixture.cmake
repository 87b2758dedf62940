# tq_pe_fixture(TARGET OUTPUT_FILE A B C D): a minimal 32-bit PE library whose
# version resource says A.B.C.D (fixed and string file version), linked with
# the MinGW resource compiler and linker, so that rules on version resources
# can be tested on every platform. The file is added to TARGET's sources.
find_program(TQ_WINDRES i686-w64-mingw32-windres)
find_program(TQ_PE_LD i686-w64-mingw32-ld)

function(tq_pe_fixture target output a b c d)
  if(NOT TQ_WINDRES OR NOT TQ_PE_LD)
    message(FATAL_ERROR "i686-w64-mingw32-windres and -ld are needed for the PE test files")
  endif()
  get_filename_component(stem ${output} NAME_WE)
  set(V1 ${a})
  set(V2 ${b})
  set(V3 ${c})
  set(V4 ${d})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/pe/${stem}_${a}_${b}_${c}_${d}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/tests/copy/fixture.rc.in ${rc} @ONLY)
  set(obj ${rc}.o)
  get_filename_component(outdir ${output} DIRECTORY)
  # (Ninja makes output folders itself; Makefiles do not.)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}
    COMMAND ${TQ_WINDRES} ${rc} -O coff -o ${obj}
    COMMAND ${TQ_PE_LD} -shared -e 0 -o ${output} ${obj}
    DEPENDS ${rc}
    COMMENT "PE test file ${output}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
  set_source_files_properties(${output} PROPERTIES HEADER_FILE_ONLY TRUE GENERATED TRUE)
endfunction()
