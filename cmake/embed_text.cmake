# Writes OUTPUT, a C++ source defining `std::string_view NAMESPACE::FUNCTION()` that returns the
# text of INPUT, so that the library needs no data file at run time.
# Usage: cmake -DINPUT=... -DOUTPUT=... -DNAMESPACE=... -DFUNCTION=... -P embed_text.cmake
file(READ "${INPUT}" text)
set(delimiter "sitewave_text")
string(FIND "${text}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw string's delimiter")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by cmake/embed_text.cmake; do not edit.\n"
  "#include <string_view>\n\n"
  "namespace ${NAMESPACE} {\n\n"
  "std::string_view ${FUNCTION}() {\n"
  "    static constexpr char text[] = R\"${delimiter}(${text})${delimiter}\";\n"
  "    return {text, sizeof text - 1};\n"
  "}\n\n"
  "} // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
