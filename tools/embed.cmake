# cmake -DIN=FILE -DOUT=FILE.cpp [-DNAME=name] -P embed.cmake: FILE's bytes
# as the array NAME (default inspect_page) of tools/NAME.h.
if(NOT NAME)
  set(NAME inspect_page)
endif()
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
file(WRITE "${OUT}" "#include \"tools/${NAME}.h\"\n"
  "const unsigned char ${NAME}[] = {${body}};\n"
  "const size_t ${NAME}_size = sizeof ${NAME};\n")
