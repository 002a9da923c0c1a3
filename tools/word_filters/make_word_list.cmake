# Filters a Debian word list into a plain list, one lower-case word a line, for
# make_word_filters.cc.
# Usage: cmake -DINPUT=list -DOUTPUT=file -DKEEP=regex [-DDROP=regex] -P this
file(STRINGS "${INPUT}" words ENCODING UTF-8)
list(FILTER words INCLUDE REGEX "${KEEP}")
if(DROP)
  list(FILTER words EXCLUDE REGEX "${DROP}")
endif()
string(TOLOWER "${words}" words)  # ASCII only; the filter builder lowers the rest
list(REMOVE_DUPLICATES words)
list(JOIN words "\n" joined)
file(WRITE "${OUTPUT}.tmp" "${joined}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
