# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedFile.cmake
# Writes a C++ source defining skm::detail::<SYMBOL> (the file's bytes) and <SYMBOL>Size.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by cmake/EmbedFile.cmake; do not edit.\n"
  "#include <cstdint>\n\n"
  "namespace skm::detail {\n\n"
  "extern const uint8_t ${SYMBOL}[${size}];\n"
  "extern const uint32_t ${SYMBOL}Size;\n\n"
  "const uint8_t ${SYMBOL}[${size}] = {\n  ${bytes}\n};\n"
  "const uint32_t ${SYMBOL}Size = ${size};\n\n"
  "}  // namespace skm::detail\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
