# Turns a Debian word list into a C++ source that defines one sorted list of words, each followed
# by a line feed, for WordList to search in place (see word_lists.h).
# Usage: cmake -DINPUT=list -DOUTPUT=file.cc -DNAME=kName -DKEEP=regex [-DDROP=regex] -P this
file(STRINGS "${INPUT}" words ENCODING UTF-8)
list(FILTER words INCLUDE REGEX "${KEEP}")
if(DROP)
  list(FILTER words EXCLUDE REGEX "${DROP}")
endif()
string(TOLOWER "${words}" words)  # ASCII only; every list keeps its words in lower case
list(REMOVE_DUPLICATES words)
list(SORT words COMPARE STRING CASE SENSITIVE)  # byte order, as std::string_view compares
list(JOIN words "\n" joined)
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by make_word_list.cmake.\n"
  "#include <string_view>\n\n"
  "namespace talvori {\n"
  "extern const std::string_view ${NAME};\n"
  "const std::string_view ${NAME} = R\"words(${joined}\n)words\";\n"
  "}  // namespace talvori\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
